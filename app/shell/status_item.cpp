#include "app/shell/status_item.h"

#include <QtGlobal>

#include "app/shell/qt_tray_item.h"
#if defined(Q_OS_MACOS)
#include "app/shell/macos/status_bar_item.h"
#endif

#ifdef CALORIM_STATUS_NOTIFIER
#include "app/shell/linux/status_notifier_item.h"
#endif

namespace calorim::app {

std::unique_ptr<StatusItem> makeStatusItem() {
#if defined(Q_OS_MACOS)
  // Qt's tray icon draws an image alone; the menu bar shows the whole line.
  return std::make_unique<StatusBarItem>();
#else
#ifdef CALORIM_STATUS_NOTIFIER
  // The panel shows items of their own, with a label, where a watcher collects them.
  if (StatusNotifierItem::watcherPresent(QDBusConnection::sessionBus())) return std::make_unique<StatusNotifierItem>();
#endif
  return std::make_unique<QtTrayItem>();
#endif
}

}  // namespace calorim::app
