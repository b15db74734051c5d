#pragma once
// The platform seam: one instance of each port. The product uses the native
// platform of its build; tests assemble their own from the fake backend.

#include <memory>

#include "core/platform/clock_port.h"
#include "core/platform/counter_report_port.h"
#include "core/platform/hardware_report_port.h"
#include "core/platform/hid_port.h"
#include "core/platform/host_port.h"
#include "core/platform/process_port.h"
#include "core/platform/registry_port.h"
#include "core/platform/smc_port.h"

namespace calorim {

struct Platform {
  std::unique_ptr<CounterReportPort> counters;
  std::unique_ptr<RegistryPort> registry;
  std::unique_ptr<SmcPort> smc;
  std::unique_ptr<HidPort> hid;
  std::unique_ptr<HostPort> host;
  std::unique_ptr<HardwareReportPort> hardwareReport;
  std::unique_ptr<ProcessPort> processes;
  std::unique_ptr<ClockPort> clock;
};

}  // namespace calorim
