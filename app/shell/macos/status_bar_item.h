#pragma once
// The application's item in the macOS menu bar: an NSStatusItem of variable
// length whose button shows the menu-bar line as text, in the system font
// with digits of equal width so that the line does not jitter as the values
// change, with the tooltip on the button. A primary click activates the
// application (so that the panel takes the keyboard and closes when another
// application is clicked) and asks for the panel; a secondary or
// control-click shows the context menu under the item, or asks for the panel
// too while there is no menu.

#include <QPointer>

#include <memory>

#include "app/shell/status_item.h"

class QMenu;

namespace calorim::app {

class StatusBarItem final : public StatusItem {
  Q_OBJECT

 public:
  explicit StatusBarItem(QObject* parent = nullptr);
  // Takes the item out of the menu bar.
  ~StatusBarItem() override;

  // The menu bar is always there.
  [[nodiscard]] bool isAvailable() const override;
  void show() override;
  void hide() override;
  [[nodiscard]] bool isShown() const override;
  void setLook(const StatusItemLook& look) override;
  void setMenu(QMenu* menu) override;
  // The item's button on the screen; null while hidden.
  [[nodiscard]] QRect anchor() const override;

 private:
  struct Native;

  void clicked(bool secondary);
  void applyLook();

  std::unique_ptr<Native> native_;
  StatusItemLook look_;
  QPointer<QMenu> menu_;
};

}  // namespace calorim::app
