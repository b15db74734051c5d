#pragma once
// `CalorimApp`: the running application. It makes the one live monitor, which
// it keeps for the life of the process, the stored preferences, the tray
// presence with its panel, and the three windows the panel opens by
// identifier:
//
//   "detail"    title of "app.name", at least 420 × 450 px, opening tall
//               enough for its first three cards
//   "settings"  title of "settings.title", opening as large as its content,
//               at least 320 px wide
//   "ports"     title of "ports.title", at least 400 × 400 px
//
// Each window opens at the size it had when last closed (kept in the
// preferences), within the screen's room.
//
// On a simulated machine the detail and ports windows take the titles of
// "app.nameSimulated" and "ports.titleSimulated".
//
// While it lives the application holds the platform's live activity (out of
// App Nap on macOS), so that its samples keep their interval.
//
// Closing windows never ends the application (the last one closed returns
// it to the accessory presence); only the panel's quit button does, or the
// end of the session (see `quitOnTerminationSignals`).
//
// Make it after the QApplication and before its event loop runs; destroy it
// before the QApplication. UI thread only.

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

#include "app/model/live_monitor.h"
#include "core/platform/platform.h"

namespace calorim::app {

class LiveActivity;
class LoginItem;
class Preferences;
class Presence;
class TrayController;
class WindowRegistry;

class CalorimApp : public QObject {
  Q_OBJECT

 public:
  // The window identifiers.
  static inline const QString kDetail = QStringLiteral("detail");
  static inline const QString kSettings = QStringLiteral("settings");
  static inline const QString kPorts = QStringLiteral("ports");

  // Starts the monitor on `platform` (sampling begins 0.2 s later) and shows
  // the tray icon, or the panel's window where no tray exists.
  explicit CalorimApp(std::shared_ptr<Platform> platform, LiveMonitorOptions options = {}, QObject* parent = nullptr);
  // Closes the windows, then stops the monitor.
  ~CalorimApp() override;

  CalorimApp(const CalorimApp&) = delete;
  CalorimApp& operator=(const CalorimApp&) = delete;

  // Opens the window of `identifier`, or brings the open one forward.
  void openWindow(const QString& identifier);
  // Ends the event loop; the program then returns 0.
  void quit();

  [[nodiscard]] LiveMonitor& monitor() { return *monitor_; }
  [[nodiscard]] Preferences& preferences() { return *preferences_; }
  [[nodiscard]] WindowRegistry& windows() { return *windows_; }
  [[nodiscard]] TrayController& tray() { return *tray_; }
  [[nodiscard]] Presence& presence() { return *presence_; }

 private:
  void registerWindows();

  std::shared_ptr<Platform> platform_;
  std::unique_ptr<Presence> presence_;
  // Destroyed bottom to top: the windows and the panel go before the
  // objects they read.
  std::unique_ptr<Preferences> preferences_;
  std::unique_ptr<LiveMonitor> monitor_;
  std::unique_ptr<LiveActivity> liveActivity_;  // while the monitor samples
  std::unique_ptr<LoginItem> loginItem_;
  std::unique_ptr<WindowRegistry> windows_;
  std::unique_ptr<TrayController> tray_;
};

// Where the program looks for its string bundle, in order: beside the
// executable (the build tree), the data directory relative to the executable
// (a relocated installation; in Calorim.app, Contents/Resources), and the
// data directory the build installs to.
[[nodiscard]] QStringList stringBundleLocations();

// Lets SIGTERM, SIGINT and SIGHUP (the end of the session, a terminal's
// interrupt) end the event loop normally, so the application shuts down as
// through its quit button. Call once, after the QApplication is made.
void quitOnTerminationSignals();

}  // namespace calorim::app
