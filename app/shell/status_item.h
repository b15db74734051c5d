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
  // `isAvailable` may have changed (a desktop panel started or ended). Items
  // that cannot tell emit nothing; the controller also looks now and then.
  void availabilityChanged();
};

// Two ways of showing the item, the first preferred: shows `preferred`
// while it is available, else `other`, and moves between the two as their
// availability changes while shown (a desktop panel restarting), so the
// application never stays without an item while one of them could show it.
// Looks and menus go to both.
class PreferringStatusItem : public StatusItem {
  Q_OBJECT

 public:
  PreferringStatusItem(std::unique_ptr<StatusItem> preferred, std::unique_ptr<StatusItem> other,
                       QObject* parent = nullptr);

  [[nodiscard]] bool isAvailable() const override;
  void show() override;
  void hide() override;
  [[nodiscard]] bool isShown() const override;
  void setLook(const StatusItemLook& look) override;
  void setMenu(QMenu* menu) override;
  [[nodiscard]] QRect anchor() const override;

  // The one shown now; null while hidden.
  [[nodiscard]] StatusItem* current() const { return current_; }

 private:
  // The one that should show now, of those available; null when neither is.
  [[nodiscard]] StatusItem* wanted() const;
  void follow();

  std::unique_ptr<StatusItem> preferred_;
  std::unique_ptr<StatusItem> other_;
  StatusItem* current_ = nullptr;
};

// Makes the item for the desktop the application runs on: on Linux a
// StatusNotifierItem while a watcher is on the session bus, else Qt's tray
// icon (a `PreferringStatusItem` of the two).
using StatusItemFactory = std::function<std::unique_ptr<StatusItem>()>;
[[nodiscard]] std::unique_ptr<StatusItem> makeStatusItem();

}  // namespace calorim::app
