// The ports tests run under one QApplication per process, on the offscreen
// platform unless another is asked for, so the view tests need no display,
// with the texts of the source tree's string bundle.

#include <gtest/gtest.h>

#include <QApplication>

#include "app/strings.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Font metrics as in every other offscreen run, whatever this machine's screen.
  QApplication::setAttribute(Qt::AA_Use96Dpi);
  QApplication app(argc, argv);
  if (!calorim::app::openStringBundle({QStringLiteral(STRING_BUNDLE_DIR)})) return 1;
  return RUN_ALL_TESTS();
}
