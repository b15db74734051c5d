#include "app/shell/status_item.h"

#include <QtGlobal>

#include <utility>

#include "app/shell/qt_tray_item.h"
#if defined(Q_OS_MACOS)
#include "app/shell/macos/status_bar_item.h"
#endif

#ifdef CALORIM_STATUS_NOTIFIER
#include "app/shell/linux/status_notifier_item.h"
#endif

namespace calorim::app {

PreferringStatusItem::PreferringStatusItem(std::unique_ptr<StatusItem> preferred, std::unique_ptr<StatusItem> other,
                                           QObject* parent)
    : StatusItem(parent), preferred_(std::move(preferred)), other_(std::move(other)) {
  for (StatusItem* item : {preferred_.get(), other_.get()}) {
    connect(item, &StatusItem::activated, this, &StatusItem::activated);
    connect(item, &StatusItem::availabilityChanged, this, [this] {
      follow();
      emit availabilityChanged();
    });
  }
}

bool PreferringStatusItem::isAvailable() const { return wanted() != nullptr; }

StatusItem* PreferringStatusItem::wanted() const {
  if (preferred_->isAvailable()) return preferred_.get();
  if (other_->isAvailable()) return other_.get();
  return nullptr;
}

void PreferringStatusItem::show() {
  current_ = wanted();
  StatusItem* unwanted = current_ == preferred_.get() ? other_.get() : preferred_.get();
  unwanted->hide();
  if (current_ != nullptr) current_->show();
}

void PreferringStatusItem::hide() {
  current_ = nullptr;
  preferred_->hide();
  other_->hide();
}

bool PreferringStatusItem::isShown() const { return current_ != nullptr && current_->isShown(); }

void PreferringStatusItem::setLook(const StatusItemLook& look) {
  preferred_->setLook(look);
  other_->setLook(look);
}

void PreferringStatusItem::setMenu(QMenu* menu) {
  preferred_->setMenu(menu);
  other_->setMenu(menu);
}

QRect PreferringStatusItem::anchor() const { return current_ != nullptr ? current_->anchor() : QRect(); }

void PreferringStatusItem::follow() {
  // Only a shown item moves; a hidden one waits for the controller's `show`.
  if (current_ == nullptr) return;
  StatusItem* now = wanted();
  // With neither available the one shown stays until the controller hides it.
  if (now == nullptr || now == current_) return;
  current_->hide();
  current_ = now;
  current_->show();
}

std::unique_ptr<StatusItem> makeStatusItem() {
#if defined(Q_OS_MACOS)
  // Qt's tray icon draws an image alone; the menu bar shows the whole line.
  return std::make_unique<StatusBarItem>();
#elif defined(CALORIM_STATUS_NOTIFIER)
  // Without a session bus no watcher can ever appear.
  if (!QDBusConnection::sessionBus().isConnected()) return std::make_unique<QtTrayItem>();
  // The panel shows items of their own, with a label, where a watcher collects them.
  return std::make_unique<PreferringStatusItem>(std::make_unique<StatusNotifierItem>(),
                                                std::make_unique<QtTrayItem>());
#else
  return std::make_unique<QtTrayItem>();
#endif
}

}  // namespace calorim::app
