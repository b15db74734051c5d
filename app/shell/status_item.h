#pragma once
// `StatusItem`: the application's one item in the system's status area (a
// tray icon, a panel indicator, a menu-bar item). The tray controller keeps
// the panel, its popup and the window standing in for a missing status area,
// and talks to the item only through this interface; each desktop gets the
// implementation it shows best, chosen at run time by `makeStatusItem`.
// UI thread only.

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>

class QMenu;

namespace calorim::app {

// What the item shows, redrawn on every publication of the monitor.
struct StatusItemLook {
  QString text;     // the menu-bar line, e.g. "⚡12.4W 45°"
  QIcon icon;       // the first chosen value, rendered (renderTrayIcon)
  QString toolTip;  // the line again, under the simulated machine's name where there is one
};

class StatusItem : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  // Whether the item can be shown now (a status area exists to hold it).
  [[nodiscard]] virtual bool isAvailable() const = 0;
  virtual void show() = 0;
  virtual void hide() = 0;
  [[nodiscard]] virtual bool isShown() const = 0;
  virtual void setLook(const StatusItemLook& look) = 0;
  // The context menu: the panel's actions. Not owned; it must outlive the item.
  virtual void setMenu(QMenu* menu) = 0;
  // The item in Qt's screen coordinates; a null rectangle where the host does not say.
  [[nodiscard]] virtual QRect anchor() const = 0;

 signals:
  // The primary click: the panel opens (or closes, when open).
  void activated();
};

// Makes the item for the desktop the application runs on: on Linux a
// StatusNotifierItem where a watcher is on the session bus, else Qt's tray icon.
using StatusItemFactory = std::function<std::unique_ptr<StatusItem>()>;
[[nodiscard]] std::unique_ptr<StatusItem> makeStatusItem();

}  // namespace calorim::app
