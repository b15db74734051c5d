// CPU cost of the application model's per-sample work: building the menu-bar
// text, and publishing one sample to the monitor's observers (directly, and
// through the queued hop from the sampling thread as the product does).

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "app/model/live_monitor.h"
#include "app/model/menu_bar_text.h"
#include "app/model/power_sample.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/platform/fake/fake_platform.h"
#include "core/power_metrics.h"

namespace {

using calorim::fake::HeldClock;

using calorim::app::LiveMonitor;
using calorim::app::PowerSample;

QCoreApplication& application() {
  static int argc = 1;
  static char name[] = "calorim_app_bench";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// A sample of the simulated laptop: full breakdown, fans, core temperatures, battery.
PowerSample laptopSample() {
  calorim::fake::SimulatedMachine machine(calorim::fake::builtinProfile());
  calorim::PowerMetrics metrics(machine.platform());
  const calorim::PowerSnapshot snapshot = metrics.sample(0.5);
  calorim::app::SampleReadings readings;
  readings.systemPower = 31.5;
  readings.chargePower = 11.8;
  readings.battery = {76, true, 96, 20.0};
  readings.memory = {11.2, 18.0, 0.4};
  return calorim::app::makeSample(snapshot, readings);
}

struct MonitorFixture {
  calorim::fake::SimulatedMachine machine{calorim::fake::builtinProfile()};
  std::unique_ptr<LiveMonitor> monitor;

  MonitorFixture() {
    application();
    calorim::app::LiveMonitorOptions options;
    options.clock = std::make_shared<HeldClock>();
    options.updateUrl = QString();  // no update check
    monitor = std::make_unique<LiveMonitor>(machine.platform(), options);
  }
};

void BM_MenuBarText(benchmark::State& state, const char* items, const char* style, const char* unit) {
  const PowerSample sample = laptopSample();
  for (auto _ : state) {
    std::string text = calorim::app::menuBarText(sample, items, style, unit);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK_CAPTURE(BM_MenuBarText, default_single, "", "full", "celsius");
BENCHMARK_CAPTURE(BM_MenuBarText, three_full, "cpuTemp,gpuPower,socPower", "full", "fahrenheit");
BENCHMARK_CAPTURE(BM_MenuBarText, three_minimal, "ramFreePercent,systemPower,cpuUsage", "minimal", "celsius");

// The four field updates and their signals, with nobody listening.
void BM_Publish(benchmark::State& state) {
  MonitorFixture f;
  const PowerSample sample = laptopSample();
  for (auto _ : state) f.monitor->publish(sample);
}
BENCHMARK(BM_Publish);

// Publication with the menu-bar label redrawn from the new sample.
void BM_PublishAndMenuBarText(benchmark::State& state) {
  MonitorFixture f;
  std::string label;
  QObject::connect(f.monitor.get(), &LiveMonitor::published, [&] {
    label = calorim::app::menuBarText(f.monitor->latest(), "cpuTemp,gpuPower,socPower", "full", "celsius");
  });
  const PowerSample sample = laptopSample();
  for (auto _ : state) {
    f.monitor->publish(sample);
    benchmark::DoNotOptimize(label);
  }
}
BENCHMARK(BM_PublishAndMenuBarText);

// The product's path: the sample is moved into a queued call and published
// when the UI thread's event loop delivers it.
void BM_QueuedPublication(benchmark::State& state) {
  MonitorFixture f;
  const PowerSample sample = laptopSample();
  LiveMonitor* monitor = f.monitor.get();
  for (auto _ : state) {
    QMetaObject::invokeMethod(
        monitor, [monitor, s = sample]() mutable { monitor->publish(std::move(s)); }, Qt::QueuedConnection);
    QCoreApplication::sendPostedEvents();  // as the event loop delivers them
  }
}
BENCHMARK(BM_QueuedPublication);

}  // namespace
