#pragma once
// The macOS backend: every port over the system's own interfaces (IOReport,
// the IOKit registry, the AppleSMC user client, the HID event system, the Mach
// host calls and sysctl, the system profiler, the process information calls) and the system clocks. Each port
// answers "nothing" where the machine has no such service.

#include <memory>

#include "core/platform/platform.h"

namespace calorim::darwin {

[[nodiscard]] std::shared_ptr<Platform> makeDarwinPlatform();

// One port each; never null.
[[nodiscard]] std::unique_ptr<CounterReportPort> makeCounterReports();
[[nodiscard]] std::unique_ptr<RegistryPort> makeRegistry();
[[nodiscard]] std::unique_ptr<SmcPort> makeSmc();
[[nodiscard]] std::unique_ptr<HidPort> makeHid();
[[nodiscard]] std::unique_ptr<HostPort> makeHost();
[[nodiscard]] std::unique_ptr<HardwareReportPort> makeHardwareReport();
[[nodiscard]] std::unique_ptr<ProcessPort> makeProcesses();

}  // namespace calorim::darwin
