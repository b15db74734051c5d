// One whole snapshot on the simulated laptop, `sample(0)`, and its parts: the
// two raw counter samples and their delta, the five parses, the CPU tick
// sampler and the two temperature readers. The simulated ports generate their
// readings, so the parts include that generation.

#include <benchmark/benchmark.h>

#include "core/all_power.h"
#include "core/cpu_usage_sampler.h"
#include "core/iohid_thermal.h"
#include "core/ioreport_sampler.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_metrics.h"
#include "core/smc_thermal.h"

namespace calorim {
namespace {

fake::SimulatedMachine laptop() { return fake::SimulatedMachine(fake::builtinProfile()); }

void wholeSample(benchmark::State& state) {
  fake::SimulatedMachine machine = laptop();
  PowerMetrics metrics(machine.platform());
  for (auto _ : state) benchmark::DoNotOptimize(metrics.sample(0));
}
BENCHMARK(wholeSample)->Unit(benchmark::kMicrosecond);

void counterSamplesAndDelta(benchmark::State& state) {
  fake::SimulatedMachine machine = laptop();
  Platform& p = *machine.platform();
  const IOReportSampler sampler(*p.counters, *p.registry);
  for (auto _ : state) {
    auto a = p.counters->createSamples(sampler.subscription(), sampler.channels());
    auto b = p.counters->createSamples(sampler.subscription(), sampler.channels());
    benchmark::DoNotOptimize(p.counters->createSamplesDelta(*a, *b));
  }
}
BENCHMARK(counterSamplesAndDelta)->Unit(benchmark::kMicrosecond);

void fiveParses(benchmark::State& state) {
  fake::SimulatedMachine machine = laptop();
  Platform& p = *machine.platform();
  const IOReportSampler sampler(*p.counters, *p.registry);
  auto a = p.counters->createSamples(sampler.subscription(), sampler.channels());
  machine.fakeClock()->advance(1);
  auto b = p.counters->createSamples(sampler.subscription(), sampler.channels());
  const CounterDelta delta = *p.counters->createSamplesDelta(*a, *b);
  for (auto _ : state) {
    benchmark::DoNotOptimize(IOReportSampler::parsePower(delta, 1.0));
    benchmark::DoNotOptimize(IOReportSampler::parseUsage(delta));
    benchmark::DoNotOptimize(IOReportSampler::parseBandwidth(delta, 1.0));
    benchmark::DoNotOptimize(sampler.parseGPUFreq(delta));
    benchmark::DoNotOptimize(parseAllPower(delta, 1.0));
  }
}
BENCHMARK(fiveParses)->Unit(benchmark::kMicrosecond);

void cpuTicks(benchmark::State& state) {
  fake::SimulatedMachine machine = laptop();
  CPUUsageSampler sampler(*machine.platform()->host);
  for (auto _ : state) benchmark::DoNotOptimize(sampler.sample());
}
BENCHMARK(cpuTicks)->Unit(benchmark::kMicrosecond);

void smcRead(benchmark::State& state) {
  fake::SimulatedMachine machine = laptop();
  SMCThermal thermal(*machine.platform()->smc, *machine.platform()->clock);
  for (auto _ : state) benchmark::DoNotOptimize(thermal.read());
}
BENCHMARK(smcRead)->Unit(benchmark::kMicrosecond);

void hidRead(benchmark::State& state) {
  fake::SimulatedMachine machine = laptop();
  IOHIDThermal thermal(*machine.platform()->hid);
  for (auto _ : state) benchmark::DoNotOptimize(thermal.read());
}
BENCHMARK(hidRead)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace calorim
