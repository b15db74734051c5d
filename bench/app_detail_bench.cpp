// CPU cost of one publication-driven update of the detail window, offscreen:
// the monitor publishes a sample of the simulated laptop, the view rewrites
// its texts and values, and the layout requests this posts are handled; a
// second variant also repaints the whole window, as a full redraw would.
//
// Each benchmark run owns its QApplication (the widgets need one; the model's
// benchmarks in this program make a plain QCoreApplication of their own and
// run after these ones).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "app/model/battery_readers.h"
#include "app/model/live_monitor.h"
#include "app/model/power_sample.h"
#include "app/model/preferences.h"
#include "app/views/detail_view.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/platform/fake/fake_platform.h"
#include "core/power_metrics.h"

namespace {

using calorim::fake::HeldClock;

using calorim::app::DetailView;
using calorim::app::LiveMonitor;
using calorim::app::PowerSample;

// Consecutive samples of the simulated laptop, as the monitor's loop builds them.
std::vector<PowerSample> laptopSamples(int count) {
  calorim::fake::SimulatedMachine machine(calorim::fake::builtinProfile(), 3);
  calorim::PowerMetrics metrics(machine.platform());
  calorim::app::BatteryReaders battery(*machine.platform()->registry);
  std::vector<PowerSample> samples;
  for (int i = 0; i < count; ++i) {
    const calorim::PowerSnapshot snapshot = metrics.sample(0.5);
    calorim::app::SampleReadings readings;
    const calorim::app::BatteryReadings read = battery.read();
    readings.systemPower = read.systemPower;
    readings.chargePower = read.chargePower;
    readings.battery = read.info;
    readings.batteryPower = read.batteryPower;
    readings.memory = calorim::app::readMemoryInfo(*machine.platform()->host);
    samples.push_back(calorim::app::makeSample(snapshot, readings));
    machine.fakeClock()->advance(2.0);
  }
  return samples;
}

struct Window {
  calorim::fake::SimulatedMachine machine{calorim::fake::builtinProfile()};
  std::unique_ptr<LiveMonitor> monitor;
  std::unique_ptr<calorim::app::Preferences> preferences;
  std::unique_ptr<DetailView> view;

  Window(int width, int height) {
    calorim::app::LiveMonitorOptions options;
    options.clock = std::make_shared<HeldClock>();
    options.updateUrl = QString();
    monitor = std::make_unique<LiveMonitor>(machine.platform(), options);
    preferences = std::make_unique<calorim::app::Preferences>();
    view = std::make_unique<DetailView>(*monitor, *preferences);
    view->resize(width, height);
    view->show();
    QCoreApplication::processEvents();
  }
};

void BM_DetailUpdate(benchmark::State& state, int width, bool repaint) {
  if (QCoreApplication::instance() != nullptr && qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    state.SkipWithError("needs a QApplication: run the detail benchmarks before the model's");
    return;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "calorim_app_bench";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  {
    Window window(width, 900);
    // Alternate between samples whose figures differ, so every update rewrites texts.
    const std::vector<PowerSample> samples = laptopSamples(8);
    for (const PowerSample& s : samples) window.monitor->publish(s);
    QCoreApplication::sendPostedEvents();
    std::size_t next = 0;
    for (auto _ : state) {
      window.monitor->publish(samples[next]);
      next = (next + 1) % samples.size();
      QCoreApplication::sendPostedEvents();  // the layout requests of the changed texts
      if (repaint) window.view->repaint();
    }
  }
}
BENCHMARK_CAPTURE(BM_DetailUpdate, narrow, 600, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DetailUpdate, wide, 1000, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DetailUpdate, wide_with_full_repaint, 1000, true)->Unit(benchmark::kMicrosecond);

}  // namespace
