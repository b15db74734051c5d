#pragma once
// The status item as Qt's tray icon: a square icon with the look's tooltip,
// available wherever Qt finds a system tray. UI thread only.

#include <QPointer>

#include "app/shell/status_item.h"

class QSystemTrayIcon;

namespace calorim::app {

class QtTrayItem : public StatusItem {
  Q_OBJECT

 public:
  using StatusItem::StatusItem;
  ~QtTrayItem() override;

  [[nodiscard]] bool isAvailable() const override;
  // Makes the tray icon; `hide` destroys it again.
  void show() override;
  void hide() override;
  [[nodiscard]] bool isShown() const override { return icon_ != nullptr; }
  void setLook(const StatusItemLook& look) override;
  void setMenu(QMenu* menu) override;
  [[nodiscard]] QRect anchor() const override;

 private:
  QSystemTrayIcon* icon_ = nullptr;  // child; present while shown
  StatusItemLook look_;
  QPointer<QMenu> menu_;
};

}  // namespace calorim::app
