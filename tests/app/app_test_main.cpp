// The model and ports tests run under one QApplication per process, prepared
// as every application test program is, with the texts of the source tree's
// string bundle.

#include <gtest/gtest.h>

#include <QApplication>

#include "tests/app/app_test_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  calorim::app::testing::prepareTestProgram();
  // Font metrics as in every other offscreen run, whatever this machine's screen.
  QApplication::setAttribute(Qt::AA_Use96Dpi);
  QApplication app(argc, argv);
  if (!calorim::app::testing::openSourceStringBundle()) return 1;
  return RUN_ALL_TESTS();
}
