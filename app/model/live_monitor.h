#pragma once
// `LiveMonitor`: the application's one observable model. It owns the power
// metrics facade, samples it over and over on a worker thread of its own, adds
// the battery, adapter and memory readings, and publishes each `PowerSample`
// to the UI thread together with a short history of total power (W), its peak
// and its mean. Every view reads only what the monitor publishes and writes
// only its pause flag. It also runs the one-time update check and holds its
// answer.
//
// The worker, not the UI thread, builds the facade and reads the machine's
// description (which can take seconds). Where the energy counters cannot be
// read (a machine without them, or a user who may not read them) the monitor
// goes on with a facade without energy: samples then carry usage,
// temperatures, fans, battery and memory, but no power (`hasPower` false),
// they do not enter the history, and `energyAccess` says why. Before each
// sample it tries the whole facade again, so counters made readable while the
// application runs are picked up without a restart.
//
// Processes are read only while a view that shows them is visible (each holds
// a watch, `watchProcesses`): one reading of the process port just before a
// sample and one just after it, so the CPU power of exactly that interval is
// shared out among them (core/process_power.h). With no view watching,
// nothing is read, and the sample carries no processes.
//
// Timing (all waits through the clock, so they end at once when the monitor
// is destroyed): 0.2 s after construction the worker starts the update check
// (on the UI thread) and the loop: a 0.5 s sample, the readings, one queued
// publication, a 2 s pause; a failed sample, or no facade at all, is retried
// after 2 s; while paused the loop looks again every 0.1 s.

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "app/model/power_sample.h"
#include "app/model/update_check.h"
#include "core/platform/clock_port.h"
#include "core/platform/platform.h"
#include "core/platform/stop_signal.h"
#include "core/power_metrics.h"
#include "core/process_power.h"
#include "core/system_info.h"

namespace calorim::app {

struct LiveMonitorOptions {
  // The clock of the start delay and the loop's pauses; null: the platform's
  // clock (which the facade uses for its sample intervals in any case).
  std::shared_ptr<ClockPort> clock;
  // The version endpoint of the update check; text that is not a URL skips the check.
  QString updateUrl = configuredUpdateUrl();
  // The running version the answer is compared with; absent counts as "0".
  std::optional<QString> localVersion = buildVersion();
  // The platform is a simulated machine: every view then says so.
  bool simulated = false;
};

class LiveMonitor : public QObject {
  Q_OBJECT

 public:
  static constexpr double kStartDelay = 0.2;      // s from construction to the first sample
  static constexpr double kSampleInterval = 0.5;  // s of each facade sample
  static constexpr double kPause = 2.0;           // s between samples, and before retrying a failed one
  static constexpr double kPausedPoll = 0.1;      // s between looks at `isPaused` while it is set
  static constexpr std::size_t kHistoryLength = 30;

  // Starts the worker on `platform` (the product passes makeNativePlatform());
  // must run on the UI thread, which then owns every published field. The
  // worker builds the facade; when the whole facade cannot be built, one line
  // "PowerMetrics init failed: <description>" goes to standard output (once),
  // and when not even one without energy can, `error` holds the display text
  // of "error.initFailed" until a retry succeeds (the update check runs in any
  // case). `systemInfo` is read once, by the worker. Never throws PMError.
  explicit LiveMonitor(std::shared_ptr<Platform> platform, LiveMonitorOptions options = {},
                       QObject* parent = nullptr);
  // Stops the worker, also in the middle of a sample or a pause, and waits for
  // it (at most as long as one registry read takes).
  ~LiveMonitor() override;

  LiveMonitor(const LiveMonitor&) = delete;
  LiveMonitor& operator=(const LiveMonitor&) = delete;

  // Published state; read on the UI thread.
  [[nodiscard]] const std::optional<QString>& error() const { return error_; }
  // `total` (W) of the latest samples, oldest first; at most 30.
  [[nodiscard]] const std::vector<double>& history() const { return history_; }
  [[nodiscard]] double peakPower() const { return peakPower_; }  // W, largest in `history`; 0 when empty
  [[nodiscard]] double avgPower() const { return avgPower_; }    // W, mean of `history`; 0 when empty
  [[nodiscard]] const std::optional<UpdateInfo>& updateAvailable() const { return updateAvailable_; }
  // The latest sample; the zero sample until the first one is published.
  [[nodiscard]] const PowerSample& latest() const { return latest_; }
  [[nodiscard]] const std::optional<SystemInfo>& systemInfo() const { return systemInfo_; }
  // Whether the energy counters are read: `readable` until the worker finds
  // otherwise, and again once they are.
  [[nodiscard]] const EnergyAccess& energyAccess() const { return energyAccess_; }
  [[nodiscard]] bool simulated() const { return options_.simulated; }

  // While set, the loop takes no samples and the published state stands still;
  // clearing it lets sampling resume within 0.1 s. Written from the UI thread,
  // read by the worker.
  [[nodiscard]] bool isPaused() const { return paused_.load(); }
  void setPaused(bool paused) { paused_.store(paused); }

  // A view that shows processes starts (`true`) or stops watching them;
  // watches are counted. UI thread; the worker reads the count.
  void watchProcesses(bool watching) { processWatchers_.fetch_add(watching ? 1 : -1); }
  [[nodiscard]] bool processesWatched() const { return processWatchers_.load() > 0; }

  // Publishes one sample, in this order: `latest`, `history` (appended, then
  // cut to the newest 30), `peakPower`, `avgPower`, each followed by its change
  // signal (`peakPower` and `avgPower` only when their value changed); then
  // `published`. Runs on the UI thread: the worker reaches it through one
  // queued call per sample.
  void publish(PowerSample sample);

 signals:
  void latestChanged();
  void historyChanged();
  void peakPowerChanged();
  void avgPowerChanged();
  // After all four fields of one publication have changed: the moment to
  // redraw anything that shows more than one of them.
  void published();
  void updateAvailableChanged();
  void errorChanged();
  void systemInfoChanged();
  void energyAccessChanged();

 private:
  void run(StopToken stop);
  void sampleLoop(StopToken stop);
  // Tries to build the whole facade, falling back on one without energy;
  // worker only. Publishes `energyAccess` and `error` when they change.
  void connectFacade();
  void setFacadeState(EnergyAccess access, bool failed);
  void checkForUpdate();

  std::shared_ptr<Platform> platform_;
  std::shared_ptr<ClockPort> clock_;
  LiveMonitorOptions options_;

  std::optional<QString> error_;
  std::vector<double> history_;
  double peakPower_ = 0;
  double avgPower_ = 0;
  std::optional<UpdateInfo> updateAvailable_;
  PowerSample latest_;
  std::optional<SystemInfo> systemInfo_;
  EnergyAccess energyAccess_;
  bool samplePublished_ = false;

  std::unique_ptr<PowerMetrics> metrics_;  // absent when the facade failed; used by the worker only
  bool failureWritten_ = false;            // the console line; worker only
  std::unique_ptr<BatteryReaders> batteryReaders_;  // used by the worker only
  UpdateCheck* updateCheck_ = nullptr;     // child, made at most once
  std::atomic<bool> paused_{false};
  std::atomic<int> processWatchers_{0};
  std::unique_ptr<ProcessMeter> processMeter_;  // used by the worker only
  StopSource stopping_;
  std::thread worker_;                     // last: started when everything above is in place
};

}  // namespace calorim::app
