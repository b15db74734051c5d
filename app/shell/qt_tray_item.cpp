#include "app/shell/qt_tray_item.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace calorim::app {

QtTrayItem::~QtTrayItem() { hide(); }

bool QtTrayItem::isAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void QtTrayItem::show() {
  if (icon_ != nullptr) return;
  icon_ = new QSystemTrayIcon(look_.icon, this);
  icon_->setToolTip(look_.toolTip);
  if (menu_) icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    // A double click follows two single ones; the context menu, where there is one, opens on its own.
    if (reason == QSystemTrayIcon::DoubleClick || (reason == QSystemTrayIcon::Context && menu_)) return;
    emit activated();
  });
  icon_->show();
}

void QtTrayItem::hide() {
  delete icon_;
  icon_ = nullptr;
}

void QtTrayItem::setLook(const StatusItemLook& look) {
  look_ = look;
  if (icon_ == nullptr) return;
  icon_->setIcon(look_.icon);
  icon_->setToolTip(look_.toolTip);
}

void QtTrayItem::setMenu(QMenu* menu) {
  menu_ = menu;
  if (icon_ != nullptr) icon_->setContextMenu(menu);
}

QRect QtTrayItem::anchor() const { return icon_ != nullptr ? icon_->geometry() : QRect(); }

}  // namespace calorim::app
