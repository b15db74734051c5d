// The model tests run under one QCoreApplication per process, with the texts
// of the source tree's string bundle.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "tests/app/app_test_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  calorim::app::testing::prepareTestProgram();
  QCoreApplication app(argc, argv);
  if (!calorim::app::testing::openSourceStringBundle()) return 1;
  return RUN_ALL_TESTS();
}
