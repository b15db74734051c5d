// The application tests run under one QCoreApplication per process, with the
// stored preferences in a temporary folder, no network proxy and the texts of
// the source tree's string bundle.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QSettings>
#include <QTemporaryDir>

#include "app/strings.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  QTemporaryDir settingsDir;
  if (!settingsDir.isValid()) return 1;
  // Before the first QSettings: every preference of this run lands here.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
  QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
  if (!calorim::app::openStringBundle({QStringLiteral(STRING_BUNDLE_DIR)})) return 1;
  return RUN_ALL_TESTS();
}
