#include "app/shell/window_registry.h"

#include <utility>

namespace calorim::app {

WindowRegistry::WindowRegistry(QObject* parent) : QObject(parent) {}

WindowRegistry::~WindowRegistry() {
  for (auto& [identifier, entry] : entries_) {
    if (entry.window) {
      // Destroyed here, not later from the event loop: the windows read
      // objects that end with the application.
      entry.window->disconnect(this);
      delete entry.window.data();
    }
  }
}

void WindowRegistry::add(const QString& identifier, Factory factory, BroughtForward broughtForward) {
  Entry& entry = entries_[identifier];
  entry.factory = std::move(factory);
  entry.broughtForward = std::move(broughtForward);
}

QWidget* WindowRegistry::open(const QString& identifier) {
  const auto it = entries_.find(identifier);
  if (it == entries_.end()) return nullptr;
  Entry& entry = it->second;

  if (entry.window) {
    QWidget* window = entry.window;
    if (window->isMinimized()) window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
    if (entry.broughtForward) entry.broughtForward(window);
    return window;
  }

  QWidget* window = entry.factory();
  window->setAttribute(Qt::WA_DeleteOnClose);
  entry.window = window;
  connect(window, &QObject::destroyed, this, [this](QObject* gone) { windowDestroyed(gone); });
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

QWidget* WindowRegistry::window(const QString& identifier) const {
  const auto it = entries_.find(identifier);
  return it == entries_.end() ? nullptr : it->second.window.data();
}

int WindowRegistry::openCount() const {
  int count = 0;
  for (const auto& [identifier, entry] : entries_) {
    if (entry.window) ++count;
  }
  return count;
}

void WindowRegistry::windowDestroyed(QObject* gone) {
  // Whether the guard has let go of `gone` yet depends on how far its
  // destruction has come; leave it out either way.
  for (const auto& [identifier, entry] : entries_) {
    if (entry.window && entry.window.data() != gone) return;
  }
  emit lastWindowClosed();
}

}  // namespace calorim::app
