// The ports tests run under one QApplication per process, on the offscreen
// platform unless another is asked for, so the view tests need no display.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Font metrics as in every other offscreen run, whatever this machine's screen.
  QApplication::setAttribute(Qt::AA_Use96Dpi);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
