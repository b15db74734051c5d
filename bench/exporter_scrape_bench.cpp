// What one scrape of the exporter costs in CPU: the formatting of the latest
// state, at the simulated laptop's size (in both formats) and at growing
// numbers of series, whose cost must grow linearly.

#include <benchmark/benchmark.h>

#include <string>

#include "core/platform/simulated/simulated_machine.h"
#include "exporter/collector.h"
#include "exporter/exposition.h"

namespace calorim::exporter {
namespace {

std::size_t seriesIn(const std::string& text) {
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; ++at) {
    if (at + 1 < text.size() && text[at + 1] != '#') ++lines;
  }
  return lines;
}

void scrapeLaptop(benchmark::State& state) {
  const auto format = static_cast<ExpositionFormat>(state.range(0));
  fake::SimulatedMachine machine(fake::builtinProfile());
  Collector collector(machine.platform(), 5.0, true);
  collector.collect();
  for (auto _ : state) benchmark::DoNotOptimize(collector.scrape(format));
  state.counters["series"] = static_cast<double>(seriesIn(collector.scrape(format)));
}
BENCHMARK(scrapeLaptop)
    ->ArgName("openMetrics")
    ->Arg(static_cast<int>(ExpositionFormat::prometheusText))
    ->Arg(static_cast<int>(ExpositionFormat::openMetrics))
    ->Unit(benchmark::kMicrosecond);

// A machine with `n` series: half per-CPU usage, half temperatures, plus the
// fixed families.
void scrapeSeries(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  MetricsState s;
  s.machine = {"Apple M3 Pro", "MacBook Pro", "macOS 15.1.0", true};
  for (std::size_t i = 0; i < n / 2; ++i) s.coreUsage.push_back(0.123456789 * static_cast<double>(i % 8));
  for (std::size_t i = 0; i < n - n / 2 - 2; ++i) s.temperatures.push_back({"core" + std::to_string(i), 47.25 + i});
  s.lastSampleTime = 1796599422.6786304;
  const std::string text = formatExposition(s, ExpositionFormat::prometheusText);
  for (auto _ : state) benchmark::DoNotOptimize(formatExposition(s, ExpositionFormat::prometheusText));
  state.counters["series"] = static_cast<double>(seriesIn(text));
  state.counters["bytes"] = static_cast<double>(text.size());
  state.SetComplexityN(static_cast<std::int64_t>(n));
}
BENCHMARK(scrapeSeries)->Arg(100)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace calorim::exporter
