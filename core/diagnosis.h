#pragma once
// A report of what the platform sees, for bug reports: the machine and the
// description every surface reads, the CPU topology as the host gives it, the
// energy counters' access, groups and channels, the SMC keys and HID sensors
// the thermal readers find, and the backend's data sources with whether each
// can be read by this user.
//
// It carries no serial number, UUID, MAC address or user name: it takes
// nothing from the platform that could hold one. Of the hardware report only
// the machine's name is taken, of the registry only the GPUs' names and power
// figures and whether a battery exists, and sensor, zone and channel names
// are the platform's own labels.
//
// Layout, keys in this order; a key whose value the platform does not give
// (an unknown chip or memory size, a GPU without a power cap) is left out,
// never written as null or 0:
//   {"report": "calorim diagnosis", "version": 1, "simulated": bool,
//    "machine": {"name", "os"},
//    "description": {"chip", "memoryGB" (2 decimals), "battery",
//      "cpu": {"efficiencyCores", "performanceCores", "logicalCpus"},
//      "gpus": [{"name", "integrated", "powerMeasured", "powerLimitW"}],
//      "gpuCores", "packagePowerLimitW", "gpuPowerBudgetW",
//      "measured": [snapshot members], "breakdown": [breakdown parts]},
//    "cpuTopology": {"logicalCpus", "physicalCpus",
//      "levels": [{"name", "logicalCpus", "physicalCpus"}]},
//    "energyAccess": {"state": "readable" | "absent" | "denied", "folder"},
//    "counters": {"groups": [{"group", "subgroup", "present"}],
//      "channels": [{"group", "subgroup", "name", "unit",
//                    "format": "simple" | "state", "states": [names]}],
//      "problem"},
//    "smc": {"connected", "cpuKeys", "gpuKeys", "fans"},
//    "hidSensors": [{"product", "celsius" (1 decimal)}],
//    "sources": [{"kind", "name", "path", "readable", "problem"}]}
// "description" is the one `PowerMetrics::description` gives before its first
// sample: its figures are those a delta over kSampleSeconds shows (a channel
// with residencies reads as "state", one without as "simple"), and a reading
// of each thermal reader. "problem" in "counters" says why no channel could be
// read. Every list is cut at its bound below, a key "<list>Omitted" then
// counting what was cut; every text is cut to kMaxTextBytes (at a character
// boundary) and ill-formed UTF-8 in it is repaired, so the report always
// prints.

#include <cstddef>

#include "core/json.h"
#include "core/platform/platform.h"

namespace calorim::diagnosis {

inline constexpr double kSampleSeconds = 0.25;
inline constexpr std::size_t kMaxTextBytes = 256;
inline constexpr std::size_t kMaxChannels = 1024;
inline constexpr std::size_t kMaxStates = 64;
inline constexpr std::size_t kMaxSensors = 256;
inline constexpr std::size_t kMaxGpus = 32;
inline constexpr std::size_t kMaxSources = 512;

// The report of `platform`; `simulated` says that it is a simulated machine.
// Blocks for kSampleSeconds on the platform's clock, and for as long as the
// SMC reader's probing and the hardware report take (seconds on a Mac). Works
// without energy counters and without any counter at all. Never throws,
// except std::bad_alloc.
[[nodiscard]] Json report(Platform& platform, bool simulated);

}  // namespace calorim::diagnosis
