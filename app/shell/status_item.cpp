#include "app/shell/status_item.h"

#include "app/shell/qt_tray_item.h"

#ifdef CALORIM_STATUS_NOTIFIER
#include "app/shell/linux/status_notifier_item.h"
#endif

namespace calorim::app {

std::unique_ptr<StatusItem> makeStatusItem() {
#ifdef CALORIM_STATUS_NOTIFIER
  // The panel shows items of their own, with a label, where a watcher collects them.
  if (StatusNotifierItem::watcherPresent(QDBusConnection::sessionBus())) return std::make_unique<StatusNotifierItem>();
#endif
  return std::make_unique<QtTrayItem>();
}

}  // namespace calorim::app
