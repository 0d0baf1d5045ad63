// Runs the reliability tests; with the windows built, under an application object so that the
// window tests can run (offscreen when there is no display).
#include <gtest/gtest.h>

#ifdef LIRVO_RELIABILITY_WINDOWS
#include <QApplication>
#endif

int main(int argc, char** argv) {
#ifdef LIRVO_RELIABILITY_WINDOWS
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
