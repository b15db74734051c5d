#include "app/model/live_monitor.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <utility>

#include "app/model/strings.h"

namespace calorim::app {

LiveMonitor::LiveMonitor(std::shared_ptr<Platform> platform, LiveMonitorOptions options, QObject* parent)
    : QObject(parent),
      platform_(std::move(platform)),
      // Shares ownership with the platform when the platform's clock is used.
      clock_(options.clock ? options.clock : std::shared_ptr<ClockPort>(platform_, platform_->clock.get())),
      options_(std::move(options)),
      latest_(PowerSample::zero(clock_->now())) {
  batteryReaders_ = std::make_unique<BatteryReaders>(*platform_->registry);
  processMeter_ = std::make_unique<ProcessMeter>(platform_->processes.get(), *platform_->clock);
  worker_ = std::thread([this, stop = stopping_.token()] { run(stop); });
}

LiveMonitor::~LiveMonitor() {
  stopping_.requestStop();
  if (worker_.joinable()) worker_.join();
  // Publications still queued for this object are dropped with it by QObject.
}

void LiveMonitor::run(StopToken stop) {
  connectFacade();
  QMetaObject::invokeMethod(
      this,
      [this, info = calorim::systemInfo(*platform_, stop)]() mutable {
        systemInfo_ = std::move(info);
        emit systemInfoChanged();
      },
      Qt::QueuedConnection);
  // A start delay cut short by quitting simply ends here.
  if (!clock_->sleep(kStartDelay, stop)) return;
  QMetaObject::invokeMethod(this, [this] { checkForUpdate(); }, Qt::QueuedConnection);
  sampleLoop(std::move(stop));
}

void LiveMonitor::connectFacade() {
  // The slow probing of the sensors runs beside the worker and ends early when
  // the monitor goes, so that quitting never waits for it.
  try {
    metrics_ = std::make_unique<PowerMetrics>(platform_, StartUpWork::inBackground);
    setFacadeState({}, false);
    return;
  } catch (const PMError& e) {
    if (!failureWritten_) {
      std::printf("PowerMetrics init failed: %s\n", e.description().c_str());
      std::fflush(stdout);
      failureWritten_ = true;
    }
  }
  EnergyAccess access = platform_->counters->energyAccess();
  // A backend that cannot say why still has no energy to show.
  if (access.state == EnergyAccess::State::readable) access.state = EnergyAccess::State::absent;
  if (!metrics_) {
    try {
      metrics_ = std::make_unique<PowerMetrics>(platform_, StartUpWork::inBackground, EnergyCounters::optional);
    } catch (const PMError&) {
      metrics_.reset();
    }
  }
  setFacadeState(std::move(access), metrics_ == nullptr);
}

void LiveMonitor::setFacadeState(EnergyAccess access, bool failed) {
  QMetaObject::invokeMethod(
      this,
      [this, access = std::move(access), failed] {
        if (access != energyAccess_) {
          energyAccess_ = access;
          // Until the first sample the zero sample stands for the figures to come.
          if (!samplePublished_) latest_.hasPower = access.state == EnergyAccess::State::readable;
          emit energyAccessChanged();
        }
        if (failed != error_.has_value()) {
          error_ = failed ? std::optional(localized("error.initFailed")) : std::nullopt;
          emit errorChanged();
        }
      },
      Qt::QueuedConnection);
}

void LiveMonitor::sampleLoop(StopToken stop) {
  while (!stop.stopRequested()) {
    if (paused_.load()) {
      clock_->sleep(kPausedPoll, stop);
      continue;
    }
    if (!metrics_ || !metrics_->hasEnergy()) connectFacade();
    if (!metrics_) {
      clock_->sleep(kPause, stop);
      continue;
    }
    const bool withProcesses = processesWatched() && metrics_->hasEnergy();
    if (withProcesses) processMeter_->restart();
    std::optional<PowerSnapshot> snapshot;
    try {
      snapshot.emplace(metrics_->sample(kSampleInterval, stop));
    } catch (const PMError&) {
      clock_->sleep(kPause, stop);
      continue;
    }
    if (stop.stopRequested()) break;
    if (PowerMetrics::overran(*snapshot, kSampleInterval)) continue;  // slept through: no reading

    const BatteryReadings battery = batteryReaders_->read();
    SampleReadings readings;
    readings.systemPower = battery.systemPower;
    readings.chargePower = battery.chargePower;
    readings.battery = battery.info;
    readings.batteryPower = battery.batteryPower;
    readings.memory = readMemoryInfo(*platform_->host);

    PowerSample sample = makeSample(*snapshot, readings);
    sample.hasPower = metrics_->hasEnergy();
    sample.machine = std::make_shared<const MachineDescription>(metrics_->description());
    sample.gpus = metrics_->gpuFigures();
    if (withProcesses) {
      sample.processes = processMeter_->next(snapshot->cpuPower()).processes;
      if (sample.processes) sample.processes->keepFirst(PowerSample::kProcessesKept);
    }
    QMetaObject::invokeMethod(
        this, [this, sample = std::move(sample)]() mutable { publish(std::move(sample)); }, Qt::QueuedConnection);
    clock_->sleep(kPause, stop);
  }
}

void LiveMonitor::publish(PowerSample sample) {
  latest_ = std::move(sample);
  samplePublished_ = true;
  emit latestChanged();
  // A sample without power has no total to remember.
  if (!latest_.hasPower) {
    emit published();
    return;
  }

  history_.push_back(latest_.total);
  if (history_.size() > kHistoryLength) {
    history_.erase(history_.begin(), history_.end() - static_cast<std::ptrdiff_t>(kHistoryLength));
  }
  emit historyChanged();

  const double peak = history_.empty() ? 0 : *std::max_element(history_.begin(), history_.end());
  if (peak != peakPower_) {
    peakPower_ = peak;
    emit peakPowerChanged();
  }

  const double avg = history_.empty() ? 0
                                      : std::accumulate(history_.begin(), history_.end(), 0.0) /
                                            static_cast<double>(history_.size());
  if (avg != avgPower_) {
    avgPower_ = avg;
    emit avgPowerChanged();
  }

  emit published();
}

void LiveMonitor::checkForUpdate() {
  if (updateCheck_ != nullptr) return;  // once per monitor
  updateCheck_ = new UpdateCheck(options_.updateUrl, options_.localVersion, this);
  connect(updateCheck_, &UpdateCheck::finished, this, [this] {
    if (updateCheck_->result() && !updateAvailable_) {
      updateAvailable_ = updateCheck_->result();
      emit updateAvailableChanged();
    }
  });
  updateCheck_->start();
}

}  // namespace calorim::app
