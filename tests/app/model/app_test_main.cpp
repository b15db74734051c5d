// The model tests run under one QCoreApplication per process.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "tests/app/app_test_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  calorim::app::testing::prepareTestProgram();
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
