// Feeds arbitrary bytes to the machine-profile reader. Text it rejects must be
// rejected with std::invalid_argument; a profile it accepts must build a
// simulated machine whose every port reads without error, now and after a very
// long run of its clock. Anything else (a crash, another exception, undefined
// behaviour caught by the sanitizers) is a finding.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "core/all_power.h"
#include "core/cpu_usage_sampler.h"
#include "core/iohid_thermal.h"
#include "core/ioreport_sampler.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/records.h"
#include "core/smc_thermal.h"

namespace {

void readEverything(calorim::fake::SimulatedMachine& machine) {
  calorim::Platform& p = *machine.platform();
  try {
    const calorim::IOReportSampler sampler(*p.counters, *p.registry);
    auto before = p.counters->createSamples(sampler.subscription(), sampler.channels());
    p.clock->sleep(1.0);
    auto after = p.counters->createSamples(sampler.subscription(), sampler.channels());
    if (before && after) {
      if (auto delta = p.counters->createSamplesDelta(*before, *after)) {
        (void)calorim::parseAllPower(*delta, 1.0);
        (void)calorim::IOReportSampler::parseUsage(*delta);
        (void)sampler.parseGPUFreq(*delta);
      }
    }
  } catch (const calorim::PMError&) {
    // A profile without energy channels: the documented answer of the sampler.
  }
  calorim::CPUUsageSampler cpu(*p.host);
  p.clock->sleep(0.5);
  (void)cpu.sample();
  calorim::SMCThermal smc(*p.smc, *p.clock);
  (void)smc.read();
  calorim::IOHIDThermal hid(*p.hid);
  (void)hid.read();
  for (const char* className : {"AppleSmartBattery", "IOUSBHostDevice", "AGXAccelerator", "AppleARMIODevice"}) {
    for (const auto& service : p.registry->matchingServices(className)) (void)p.registry->properties(*service);
  }
  (void)p.host->memoryUsedBytes();
  (void)p.host->swapUsedBytes();
  (void)p.hardwareReport->report("SPHardwareDataType", {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::optional<calorim::fake::MachineProfile> profile;
  try {
    profile = calorim::fake::loadMachineProfile(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const std::invalid_argument&) {
    return 0;  // rejected input: the expected answer to most of it
  }
  calorim::fake::SimulatedMachine machine(*profile, size);
  readEverything(machine);
  machine.fakeClock()->advance(1e9);  // about 30 years: counters must wrap, not overflow
  readEverything(machine);
  return 0;
}
