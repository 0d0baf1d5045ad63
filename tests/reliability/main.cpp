// With the windows built, the reliability tests run under an application object, so that the
// window tests can run (offscreen when there is no display).
#include "window_test.h"

int main(int argc, char** argv) {
  return lirvo::test::RunWindowTests(argc, argv);
}
