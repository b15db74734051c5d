#include "app/shell/status_item.h"

#include <QtGlobal>

#include "app/shell/qt_tray_item.h"
#if defined(Q_OS_MACOS)
#include "app/shell/macos/status_bar_item.h"
#endif

namespace calorim::app {

std::unique_ptr<StatusItem> makeStatusItem() {
#if defined(Q_OS_MACOS)
  // Qt's tray icon draws an image alone; the menu bar shows the whole line.
  return std::make_unique<StatusBarItem>();
#else
  return std::make_unique<QtTrayItem>();
#endif
}

}  // namespace calorim::app
