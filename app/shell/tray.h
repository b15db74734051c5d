#pragma once
// The application's presence in the system tray. Tray hosts give an icon a
// small square slot (22 × 22 px is common), too small for the whole menu-bar
// line, so the icon shows the first chosen item's value in its minimal form
// ("12"), drawn as large as the slot allows with digits of equal width, and
// the tooltip carries the whole line ("SoC 4.2W"), under a first line of
// "app.nameSimulated" when the machine is a simulated one. Both are redrawn on every
// publication of the monitor and at once when a preference changes.
//
// The icon, the tooltip and the line go to a `StatusItem`, which shows what its
// desktop can; its context menu offers the panel's buttons. Clicking the item opens the panel as a borderless popup next to
// it. Where no tray exists (no tray host on the desktop, or the offscreen platform) the
// panel stands in an ordinary small window titled "Calorim" instead, so the
// application stays usable; the controller keeps looking for a tray and
// closes that window once a tray appears (and brings it back should the tray
// go away). UI thread only.

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSize>
#include <QString>

#include "app/shell/status_item.h"
#include "app/views/panel_view.h"

class QMenu;
class QTimer;

namespace calorim::app {

class LiveMonitor;
class Preferences;

// `text` in a bold fixed-pitch font at the largest whole pixel size at which
// it fits inside `size` less a 1 px border, white on a dark rounded square,
// centred. The fit and the place depend only on the number of characters, so
// the digits stand still as the value changes. `devicePixelRatio` > 1 draws
// that many device pixels per logical one. Pure apart from font look-ups.
[[nodiscard]] QPixmap renderTrayIcon(const QString& text, QSize size, qreal devicePixelRatio = 1);

// The pixel size `renderTrayIcon` picks for `text` in `size`. UI thread only
// (it remembers its answers).
[[nodiscard]] int trayIconPixelSize(const QString& text, QSize size);

class TrayController : public QObject {
  Q_OBJECT

 public:
  static constexpr int kTrayCheckMs = 3000;     // how often to look for a tray
  static constexpr int kReopenGuardMs = 300;    // a click closing the popup does not reopen it
  static inline const QSize kIconSize{22, 22};  // the slot the icon is drawn for

  // The panel's buttons call `actions` (the controller closes the popup
  // first); `item` stands in the status area. `monitor` and `preferences`
  // must outlive the controller.
  TrayController(LiveMonitor& monitor, Preferences& preferences, PanelActions actions,
                 std::unique_ptr<StatusItem> item, QObject* parent = nullptr);
  // Closes and destroys the panel windows.
  ~TrayController() override;

  // Looks for a status area at once (showing the item, or the window in its place)
  // and from then on every `kTrayCheckMs`.
  void start();

  // Opens the panel: the popup next to the icon, or the fallback window.
  void showPanel();
  void hidePopup();

  // The tooltip: the whole menu-bar line, after the simulated machine's name on a line of its own.
  [[nodiscard]] const QString& toolTip() const { return toolTip_; }
  // The minimal value the icon shows.
  [[nodiscard]] const QString& iconText() const { return iconText_; }
  [[nodiscard]] const QIcon& icon() const { return icon_; }
  [[nodiscard]] bool hasTrayIcon() const { return item_->isShown(); }
  [[nodiscard]] StatusItem& statusItem() const { return *item_; }
  // The item's context menu.
  [[nodiscard]] QMenu& menu() const { return *menu_; }
  // The window standing in for the tray; null while a tray is used.
  [[nodiscard]] QWidget* fallbackWindow() const { return fallback_.data(); }
  // The panel inside the popup; null until the popup was first opened.
  [[nodiscard]] MenuBarPanel* popupPanel() const { return popupPanel_.data(); }

 signals:
  // The icon and the tooltip have been redrawn.
  void redrawn();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void checkTray();
  void redraw();
  void showFallback();
  void placePopup();

  LiveMonitor& monitor_;
  Preferences& preferences_;
  PanelActions actions_;       // as the panel calls them: closing the popup first
  QTimer* trayCheck_;
  std::unique_ptr<QMenu> menu_;  // the item's context menu: the panel's actions
  std::unique_ptr<StatusItem> item_;
  QPointer<MenuBarPanel> popupPanel_;
  QPointer<QWidget> fallback_;
  QElapsedTimer sincePopupClosed_;
  QString toolTip_;
  QString iconText_;
  QIcon icon_;
};

}  // namespace calorim::app
