#pragma once
// Helpers of the view and shell tests: a per-program sandbox for
// the stored preferences and the autostart folder, the source tree's string
// bundle, a monitor on the simulated
// laptop that publishes only what the test hands it (or, on request, its
// first real sample), and a place for screenshots.

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

#include "app/model/live_monitor.h"
#include "app/model/strings.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "tests/app/app_test_support.h"

namespace calorim::app::testing {

// Points the preferences and XDG_CONFIG_HOME into a fresh folder for the
// life of the program. Call before the first `Preferences` is made.
inline void sandboxUserFiles() {
  static QTemporaryDir dir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));
  qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
}

// The string bundle of the source tree.
inline QString sourceStringBundle() {
  return QDir::cleanPath(QStringLiteral(FIXTURE_DIR "/../../app/resources/CalorimGUI_Calorim.bundle"));
}

// Makes `localized` answer from the source tree's bundle, as the program
// answers from its copy; false when it cannot be opened.
inline bool openSourceStringBundle() { return openStringBundle({sourceStringBundle()}).has_value(); }

// Forgets every stored preference.
inline void clearPreferences() {
  QSettings(QStringLiteral("Calorim"), QStringLiteral("Calorim")).clear();
}

// The simulated laptop on a fake clock. Waits of `holdFrom` seconds or more
// are held: with `LiveMonitor::kStartDelay` the loop never starts and only
// the test publishes; with `LiveMonitor::kPause` the monitor publishes one
// real sample and runs the update check, then holds.
struct SimulatedRig {
  explicit SimulatedRig(double holdFrom = LiveMonitor::kStartDelay, QString updateUrl = QString())
      : machine(fake::builtinProfile()),
        clock(std::make_shared<SteppingClock>(*machine.fakeClock(), holdFrom)) {
    options.clock = clock;
    options.updateUrl = std::move(updateUrl);
  }

  std::unique_ptr<LiveMonitor> makeMonitor() const { return std::make_unique<LiveMonitor>(machine.platform(), options); }

  fake::SimulatedMachine machine;
  std::shared_ptr<SteppingClock> clock;
  LiveMonitorOptions options;
};

// Saves `picture` as `name` under $SCREENSHOT_DIR (the system's
// temporary folder when unset); true when written.
inline bool saveScreenshot(const QPixmap& picture, const QString& name) {
  const QDir dir(qEnvironmentVariable("SCREENSHOT_DIR", QDir::tempPath()));
  return QDir().mkpath(dir.path()) && picture.save(dir.filePath(name));
}

// The sample the simulated laptop publishes, with chosen fields replaced.
inline PowerSample sampleWith(double cpuTemp, std::vector<FanInfo> fans = {}) {
  PowerSample s = PowerSample::zero({});
  s.cpu = 3.41;
  s.gpu = 1.07;
  s.ane = 0.0;
  s.dram = 0.52;
  s.total = 5.63;
  s.cpuTemp = cpuTemp;
  s.gpuTemp = 42.3;
  s.cpuUsage = 0.234;
  s.gpuUsage = 0.081;
  s.fans = std::move(fans);
  return s;
}

}  // namespace calorim::app::testing
