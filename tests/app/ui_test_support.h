#pragma once
// Helpers of the view and shell tests: those of every application test, and
// a place for screenshots.

#include <QDir>
#include <QPixmap>

#include "tests/app/app_test_support.h"

namespace calorim::app::testing {

// Saves `picture` as `name` under $SCREENSHOT_DIR (the system's
// temporary folder when unset); true when written.
inline bool saveScreenshot(const QPixmap& picture, const QString& name) {
  const QDir dir(qEnvironmentVariable("SCREENSHOT_DIR", QDir::tempPath()));
  return QDir().mkpath(dir.path()) && picture.save(dir.filePath(name));
}

}  // namespace calorim::app::testing
