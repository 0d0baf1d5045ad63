// Builds one unit request with the installed libraries and prints it.
#include <iostream>

#include <lirvo/modTally.h>
#include <lirvo/modTallyIm.h>

int main() {
  modTallyIm::UnitMaster unit;
  unit.Name = "Box";
  unit.IsSimpleUnit = "Yes";
  std::cout << modTallyIm::BuildUnit("Lee & Co", unit, "Create") << '\n'
            << modTally::EscapeXml("a<b") << '\n';
  return 0;
}
