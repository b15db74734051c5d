#include "app/shell/tray.h"

#include <QCloseEvent>
#include <QCursor>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

#include "app/model/live_monitor.h"
#include "app/model/menu_bar_text.h"
#include "app/model/preferences.h"
#include "app/model/strings.h"

namespace calorim::app {
namespace {

constexpr int kIconInset = 1;        // px between the slot's edge and the digits
constexpr qreal kIconRadius = 4;     // px, the corners of the dark square
constexpr int kPopupGap = 4;         // px between the icon and the popup
const QColor kIconBackground(0x20, 0x21, 0x24, 235);
const QColor kIconText(Qt::white);
const QString kDigits = QStringLiteral("0123456789");

QFont iconFont(int pixelSize) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setStyleHint(QFont::Monospace);
  font.setWeight(QFont::Bold);
  font.setPixelSize(pixelSize);
  return font;
}

// The panel in a window of its own, for desktops without a tray. Closing it
// would leave nothing to reach the application by, so it only minimises.
class FallbackWindow : public QWidget {
 public:
  explicit FallbackWindow(MenuBarPanel* panel) : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("panelWindow"));
    setWindowTitle(QStringLiteral("Calorim"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    panel->setParent(this);
    layout->addWidget(panel);
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    showMinimized();
  }
};

}  // namespace

namespace {

// What a text of `text`'s length takes when drawn: the ink of as many zeros
// (digits in a fixed-pitch font share their width; the zero is among the
// widest) across, the ink of all ten digits up. Every value of as many
// characters thus gets the same size and position, and its digits stand
// still as the value changes.
QRectF inkOfLength(const QFontMetricsF& metrics, const QString& text) {
  const QRectF across = metrics.tightBoundingRect(QString(text.size(), QLatin1Char('0')));
  const QRectF up = metrics.tightBoundingRect(kDigits);
  return QRectF(across.left(), up.top(), across.width(), up.height());
}

}  // namespace

int trayIconPixelSize(const QString& text, QSize size) {
  const QSizeF room(size.width() - 2 * kIconInset, size.height() - 2 * kIconInset);
  if (text.isEmpty() || room.isEmpty()) return 1;
  // The answer depends only on the length and the slot: found once, as the
  // icon is redrawn with every sample.
  static std::map<std::tuple<qsizetype, int, int>, int> found;
  const auto key = std::make_tuple(text.size(), size.width(), size.height());
  if (const auto it = found.find(key); it != found.end()) return it->second;
  int fit = 1;
  // Digits are about 0.7 em tall: no size above twice the height can fit.
  for (int pixels = 2 * size.height(); pixels > 1; --pixels) {
    const QRectF ink = inkOfLength(QFontMetricsF(iconFont(pixels)), text);
    if (ink.width() <= room.width() && ink.height() <= room.height()) {
      fit = pixels;
      break;
    }
  }
  found.emplace(key, fit);
  return fit;
}

QPixmap renderTrayIcon(const QString& text, QSize size, qreal devicePixelRatio) {
  QPixmap pixmap(size * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);

  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QRectF slot(QPointF(0, 0), QSizeF(size));
  painter.setPen(Qt::NoPen);
  painter.setBrush(kIconBackground);
  painter.drawRoundedRect(slot, kIconRadius, kIconRadius);

  const QFont font = iconFont(trayIconPixelSize(text, size));
  const QRectF ink = inkOfLength(QFontMetricsF(font), text);
  const QPointF baseline(slot.center().x() - ink.width() / 2 - ink.left(),
                         slot.center().y() - ink.height() / 2 - ink.top());
  painter.setFont(font);
  painter.setPen(kIconText);
  painter.drawText(baseline, text);
  return pixmap;
}

TrayController::TrayController(LiveMonitor& monitor, Preferences& preferences, PanelActions actions,
                               std::unique_ptr<StatusItem> item, QObject* parent)
    : QObject(parent),
      monitor_(monitor),
      preferences_(preferences),
      trayCheck_(new QTimer(this)),
      item_(std::move(item)) {
  // A button pressed in the popup closes it before anything opens, as a menu
  // would; in the fallback window the panel simply stays.
  auto closingPopup = [this](std::function<void()> action) {
    return [this, action = std::move(action)] {
      hidePopup();
      if (action) action();
    };
  };
  actions_.openWindow = [this, open = std::move(actions.openWindow)](const QString& identifier) {
    hidePopup();
    if (open) open(identifier);
  };
  actions_.showApplication = closingPopup(std::move(actions.showApplication));
  actions_.bringToFront = closingPopup(std::move(actions.bringToFront));
  actions_.quit = closingPopup(std::move(actions.quit));

  menu_ = std::make_unique<QMenu>();
  menu_->addAction(withoutMnemonic(localized("menu.openDetail")), this, [this] { openDetailWindow(monitor_, actions_); });
  menu_->addAction(withoutMnemonic(localized("menu.settings")), this, [this] { openSettingsWindow(actions_); });
  menu_->addAction(withoutMnemonic(localized("ports.title")), this, [this] { openPortsWindow(actions_); });
  menu_->addSeparator();
  menu_->addAction(withoutMnemonic(localized("menu.quit")), this, [this] {
    if (actions_.quit) actions_.quit();
  });
  item_->setMenu(menu_.get());

  trayCheck_->setInterval(kTrayCheckMs);
  connect(trayCheck_, &QTimer::timeout, this, &TrayController::checkTray);
  // A panel that starts or ends is followed at once, not at the next look.
  connect(item_.get(), &StatusItem::availabilityChanged, this, [this] {
    if (trayCheck_->isActive()) checkTray();
  });
  connect(item_.get(), &StatusItem::activated, this, [this] {
    if (popupPanel_ && popupPanel_->isVisible()) {
      hidePopup();
    } else if (!sincePopupClosed_.isValid() || sincePopupClosed_.elapsed() >= kReopenGuardMs) {
      // A click on the item while the popup is open first closes the popup
      // (a click outside it), then arrives here: it must not reopen it.
      showPanel();
    }
  });
  connect(&monitor_, &LiveMonitor::published, this, &TrayController::redraw);
  connect(&monitor_, &LiveMonitor::energyAccessChanged, this, &TrayController::redraw);
  connect(&preferences_, &Preferences::tempUnitChanged, this, &TrayController::redraw);
  connect(&preferences_, &Preferences::menuBarItemsChanged, this, &TrayController::redraw);
  connect(&preferences_, &Preferences::menuBarStyleChanged, this, &TrayController::redraw);
  redraw();
}

TrayController::~TrayController() {
  if (popupPanel_) popupPanel_->removeEventFilter(this);
  delete popupPanel_.data();
  delete fallback_.data();
}

void TrayController::start() {
  checkTray();
  trayCheck_->start();
}

void TrayController::checkTray() {
  const bool available = item_->isAvailable();
  if (available && !item_->isShown()) {
    item_->show();
    delete fallback_.data();
  } else if (!available && item_->isShown()) {
    hidePopup();
    item_->hide();
  }
  if (!available && !fallback_) showFallback();
}

void TrayController::redraw() {
  const PowerSample& sample = monitor_.latest();
  const TempUnit unit = preferences_.tempUnit();
  const MenuBarItemSet items = preferences_.menuBarItems();  // never empty
  iconText_ = QString::fromStdString(minimalValue(*items.begin(), sample, unit));
  const QString line = QString::fromStdString(menuBarText(sample, preferences_.menuBarItemsRaw().toStdString(),
                                                          preferences_.menuBarStyleRaw().toStdString(),
                                                          preferences_.tempUnitRaw().toStdString()));
  toolTip_ = line;
  if (monitor_.simulated()) toolTip_.prepend(localized("app.nameSimulated") + QLatin1Char('\n'));
  QIcon icon;
  for (const QSize size : {QSize(16, 16), kIconSize, QSize(32, 32)}) {
    icon.addPixmap(renderTrayIcon(iconText_, size));
    icon.addPixmap(renderTrayIcon(iconText_, size, 2));
  }
  icon_ = icon;
  item_->setLook({line, icon_, toolTip_});
  emit redrawn();
}

void TrayController::showPanel() {
  if (!item_->isShown()) {
    if (!fallback_) showFallback();
    fallback_->showNormal();
    fallback_->raise();
    fallback_->activateWindow();
    return;
  }
  if (!popupPanel_) {
    popupPanel_ = new MenuBarPanel(monitor_, preferences_, actions_);
    popupPanel_->setObjectName(QStringLiteral("panelPopup"));
    popupPanel_->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    popupPanel_->installEventFilter(this);
  }
  popupPanel_->adjustSize();
  placePopup();
  popupPanel_->show();
  popupPanel_->activateWindow();
}

void TrayController::hidePopup() {
  if (popupPanel_ && popupPanel_->isVisible()) popupPanel_->hide();
}

bool TrayController::eventFilter(QObject* watched, QEvent* event) {
  // Installed on the popup alone.
  if (event->type() == QEvent::Hide) sincePopupClosed_.start();
  return QObject::eventFilter(watched, event);
}

void TrayController::showFallback() {
  auto* window = new FallbackWindow(new MenuBarPanel(monitor_, preferences_, actions_));
  fallback_ = window;
  window->show();
}

void TrayController::placePopup() {
  QRect anchor = item_->anchor();
  // Hosts that draw the icons themselves report no geometry: use the pointer,
  // which has just clicked the icon.
  if (!anchor.isValid()) anchor = QRect(QCursor::pos(), QSize(1, 1));
  QScreen* screen = QGuiApplication::screenAt(anchor.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QRect room = screen->availableGeometry();
  const QSize size = popupPanel_->size();

  // Below an icon in the upper half of the screen, above one in the lower half.
  int y = anchor.center().y() < room.center().y() ? anchor.bottom() + 1 + kPopupGap
                                                  : anchor.top() - kPopupGap - size.height();
  int x = anchor.center().x() - size.width() / 2;
  x = std::clamp(x, room.left(), std::max(room.left(), room.right() + 1 - size.width()));
  y = std::clamp(y, room.top(), std::max(room.top(), room.bottom() + 1 - size.height()));
  popupPanel_->move(x, y);
}

}  // namespace calorim::app
