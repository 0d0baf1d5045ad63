#include "window_test.h"

int main(int argc, char** argv) {
  return lirvo::test::RunWindowTests(argc, argv);
}
