#include "app/shell/status_item.h"

#include "app/shell/qt_tray_item.h"

namespace calorim::app {

std::unique_ptr<StatusItem> makeStatusItem() { return std::make_unique<QtTrayItem>(); }

}  // namespace calorim::app
