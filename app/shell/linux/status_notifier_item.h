#pragma once
// The status item as a StatusNotifierItem of the application's own, over the
// session bus: the way panels on Linux (KDE Plasma, GNOME with AppIndicator
// support, Xfce, MATE, Budgie, Cinnamon) show items. Besides the icon it
// carries the whole menu-bar line as its label (`XAyatanaLabel`, with
// `XAyatanaLabelGuide`, and the `XAyatanaNewLabel` signal when it changes),
// which those panels draw next to the icon. A click (`Activate`) opens the
// panel. The context menu (every one of its actions is also a button of the
// panel) is exported for hosts that draw it themselves as a flat
// com.canonical.dbusmenu at /MenuBar (the `Menu` property), and pops up at the
// place the host gives on `ContextMenu` for hosts that ask the item to.
//
// The item is exported at /StatusNotifierItem under the bus name
// "org.kde.StatusNotifierItem-<pid>-<n>" and registered with
// org.kde.StatusNotifierWatcher, again whenever the watcher comes back. It is
// available while a watcher is on the bus. Linux only; UI thread only.

#include <QDBusConnection>
#include <QPointer>
#include <QString>

#include "app/shell/status_item.h"

class QDBusServiceWatcher;

namespace calorim::app {

class StatusNotifierAdaptor;

class StatusNotifierItem : public StatusItem {
  Q_OBJECT

 public:
  static inline const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
  static inline const QString kObjectPath = QStringLiteral("/StatusNotifierItem");
  static inline const QString kMenuPath = QStringLiteral("/MenuBar");

  // Whether a watcher is on `bus` now: where this item can be shown.
  [[nodiscard]] static bool watcherPresent(const QDBusConnection& bus);

  explicit StatusNotifierItem(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
  ~StatusNotifierItem() override;

  [[nodiscard]] bool isAvailable() const override { return watcherPresent_; }
  // Takes the bus name, exports the item and registers it with the watcher.
  void show() override;
  // Withdraws the item from the bus.
  void hide() override;
  [[nodiscard]] bool isShown() const override { return shown_; }
  void setLook(const StatusItemLook& look) override;
  void setMenu(QMenu* menu) override;
  // Where the host said the last click was (hosts give the pointer's place, or
  // 0, 0 where they cannot tell): a point, or null, so that the popup goes by the pointer.
  [[nodiscard]] QRect anchor() const override { return anchor_; }

  [[nodiscard]] const QString& serviceName() const { return serviceName_; }
  [[nodiscard]] const StatusItemLook& look() const { return look_; }
  [[nodiscard]] QMenu* menu() const;

  // Calls from the host, through the adaptor.
  void activate(int x, int y);
  void contextMenu(int x, int y);

 private:
  void registerWithWatcher();

  QDBusConnection bus_;
  QString serviceName_;
  StatusNotifierAdaptor* adaptor_;  // child
  QObject* menuObject_;             // child: the menu's object on the bus
  QDBusServiceWatcher* watcher_;    // child
  bool watcherPresent_ = false;
  bool shown_ = false;
  StatusItemLook look_;
  QPointer<QMenu> menu_;
  QRect anchor_;
};

}  // namespace calorim::app
