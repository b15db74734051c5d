// One full parse of a counter delta, as a snapshot does it: all five passes
// over the same channels. Reported per channel, to show the cost grows
// linearly with the channel count.

#include <benchmark/benchmark.h>

#include <string>

#include "core/all_power.h"
#include "core/base/little_endian.h"
#include "core/ioreport_sampler.h"
#include "core/platform/fake/fake_platform.h"

namespace calorim {
namespace {

// A delta shaped like a large chip's: energy channels of every domain, CPU and
// GPU state channels, and memory-controller channels, in roughly equal parts.
CounterDelta makeDelta(int channels) {
  static const char* const kEnergyNames[] = {"CPU Energy", "GPU", "ANE0", "DRAM", "AMCC", "DISP", "AFR",
                                             "PACC0_CPU",  "EACC_CPU", "ISP", "AVE", "GPU SRAM", "DCS"};
  CounterDelta delta;
  delta.reserve(static_cast<std::size_t>(channels));
  for (int i = 0; i < channels; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 4) {
      case 0:
      case 1:
        delta.push_back({"Energy Model", "", std::string(kEnergyNames[i % 13]) + (i < 13 ? "" : "_" + n), "mJ",
                         1000 + i, {}});
        break;
      case 2:
        delta.push_back({i % 8 == 2 ? "CPU Stats" : "GPU Stats", "", (i % 16 == 2 ? "ECPU" : "PCPU") + n, "", 0,
                         {{"IDLE", 100}, {"P1", 50}, {"P2", 25}, {"V3P4", 10}}});
        break;
      default:
        delta.push_back({"AMC Stats", "", (i % 3 ? "GFX DCS RD" : "ECPU DCS WR"), "", 1 << 20, {}});
    }
  }
  return delta;
}

void fullParse(benchmark::State& state) {
  fake::FakeMachine machine;
  machine.counters->pushReading(CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", 0, {}}});
  RegistryBytes table;
  for (std::uint32_t hz : {396'000'000u, 720'000'000u, 1'000'000'000u, 1'296'000'000u}) {
    appendLE32(table, hz);
    appendLE32(table, 0);
  }
  machine.registry->addService("AppleARMIODevice", RegistryDictionary{{"voltage-states9", table}});
  const IOReportSampler sampler(*machine.platform->counters, *machine.platform->registry);

  const CounterDelta delta = makeDelta(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(IOReportSampler::parsePower(delta, 1.0));
    benchmark::DoNotOptimize(IOReportSampler::parseUsage(delta));
    benchmark::DoNotOptimize(IOReportSampler::parseBandwidth(delta, 1.0));
    benchmark::DoNotOptimize(sampler.parseGPUFreq(delta));
    benchmark::DoNotOptimize(parseAllPower(delta, 1.0));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["ns_per_channel"] = benchmark::Counter(
      static_cast<double>(state.iterations() * state.range(0)),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(fullParse)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace calorim
