#pragma once
// The application's windows by identifier ("detail", "settings", "ports").
// Each identifier names at most one window: opening an identifier whose
// window is open brings that window forward instead of making a second one.
// A closed window is destroyed; the next opening makes a fresh one. UI thread
// only.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>

namespace calorim::app {

class WindowRegistry : public QObject {
  Q_OBJECT

 public:
  // Makes the top-level window of an identifier, with its title and sizes.
  using Factory = std::function<QWidget*()>;
  // Runs after an open window has been brought forward again.
  using BroughtForward = std::function<void(QWidget*)>;

  explicit WindowRegistry(QObject* parent = nullptr);
  // Destroys the windows still open.
  ~WindowRegistry() override;

  // Registers `identifier`; a later call replaces the earlier one.
  void add(const QString& identifier, Factory factory, BroughtForward broughtForward = {});

  // Shows the window of `identifier`, making it when none is open, and raises
  // and activates it. Returns it; null for an identifier never added.
  QWidget* open(const QString& identifier);

  // The open window of `identifier`; null when none is open.
  [[nodiscard]] QWidget* window(const QString& identifier) const;
  // How many of the registered windows are open.
  [[nodiscard]] int openCount() const;

 signals:
  // A window closed and none of the registered windows is open any more.
  void lastWindowClosed();

 private:
  struct Entry {
    Factory factory;
    BroughtForward broughtForward;
    QPointer<QWidget> window;
  };

  void windowDestroyed(QObject* gone);

  std::map<QString, Entry> entries_;
};

}  // namespace calorim::app
