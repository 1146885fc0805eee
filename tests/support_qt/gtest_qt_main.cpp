// The entry of the window tests: a QApplication on the offscreen platform (unless the caller
// chose another, as the screenshot script does), with the SDL dummy audio driver, around the
// GoogleTest run.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
