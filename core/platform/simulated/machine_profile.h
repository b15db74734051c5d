#pragma once
// A simulated machine profile: everything the simulated machine
// (simulated_machine.h) publishes through the ports, read from JSON text. The
// format, every member and its units are described in PROFILE.md next to this
// file; `builtinProfileJson` holds a complete example, an Apple Silicon laptop
// with the channel, key and sensor names that platform publishes.
//
// Each reading has a base value; the simulated machine lets it wander slowly
// around that base by at most `variation` (a fraction of the base), so a
// profile states averages: watts, residency shares, busy shares, °C, rpm, bytes.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform/host_port.h"
#include "core/platform/registry_port.h"

namespace calorim::fake {

// One counter channel: an energy channel (`watts` set) or a state channel
// (`residency` not empty), never both.
struct ProfileCounter {
  std::string group;
  std::string subgroup;                 // empty: none
  std::string name;
  std::string unitLabel;                // energy channels: "mJ", "uJ", "µJ" or "nJ"; state channels: empty
  std::optional<double> watts;          // average power, W, ≥ 0
  std::vector<std::pair<std::string, double>> residency;  // state → relative share ≥ 0, in state order
  std::optional<double> variation;      // overrides the profile's
  // Energy channels only: the name of an earlier energy channel of the same
  // group whose power includes this one's (a cluster holds its cores); empty: none.
  std::string within;

  bool operator==(const ProfileCounter&) const = default;
};

// One logical CPU: the share of its time spent busy, 0..1.
struct ProfileCpu {
  double busy = 0;
  std::optional<double> variation;

  bool operator==(const ProfileCpu&) const = default;
};

// One process: a share of the CPU time all CPUs spend busy.
struct ProfileProcess {
  std::int64_t pid = 0;   // 0 or above, each once
  std::string name;       // not empty, at most 255 bytes
  double share = 0;       // 0..1; the shares of all processes add up to at most 1
  std::optional<std::uint32_t> uid;

  bool operator==(const ProfileProcess&) const = default;
};

// One SMC key. `type` is "sp78", "flt ", "ui8 ", "ui16" or "ui32"; its size
// follows from the type. Values of the integer types never vary.
struct ProfileSmcKey {
  std::string key;  // four characters
  std::string type;
  double value = 0;  // °C, rpm or a count
  std::optional<double> variation;

  bool operator==(const ProfileSmcKey&) const = default;
};

struct ProfileHidSensor {
  std::string product;
  double celsius = 0;
  std::optional<double> variation;

  bool operator==(const ProfileHidSensor&) const = default;
};

// A number inside registry properties that wanders around `base`. Values
// sharing a `signal` name wander together (a voltage, a current and their
// power stay consistent).
struct ProfileVaryingProperty {
  std::vector<std::string> path;  // dictionary keys from the service's properties down to the value
  double base = 0;
  bool integer = false;           // rounded to the nearest integer when read
  std::string signal;
  std::optional<double> variation;

  bool operator==(const ProfileVaryingProperty&) const = default;
};

// One registry service: its class, its constant properties and the numbers
// among them that vary.
struct ProfileRegistryEntry {
  std::string className;
  RegistryDictionary properties;
  std::vector<ProfileVaryingProperty> varying;

  bool operator==(const ProfileRegistryEntry&) const = default;
};

// A byte count that wanders around `base`.
struct ProfileBytes {
  std::uint64_t base = 0;
  std::optional<double> variation;

  bool operator==(const ProfileBytes&) const = default;
};

struct MachineProfile {
  std::string name;
  double variation = 0.1;              // default relative wander of every reading, 0 ≤ v < 1
  double periodSeconds = 60;           // the slowest wander takes about this long
  double residencyHz = 24'000'000;     // residency ticks per second of state channels
  double ticksPerSecond = 100;         // CPU ticks per second of each logical CPU
  std::vector<ProfileCounter> counters;
  std::vector<ProfileCpu> cpus;        // in processor order
  std::vector<ProfileProcess> processes;
  std::vector<ProfileRegistryEntry> registry;  // in registry order
  std::vector<ProfileSmcKey> smcKeys;
  std::vector<ProfileHidSensor> hidSensors;    // in the order the sensors are listed
  std::map<std::string, std::string> systemTexts;
  std::map<std::string, std::int64_t> systemIntegers;
  std::optional<ProfileBytes> memoryUsed;
  std::optional<ProfileBytes> swapUsed;
  std::optional<OsVersion> os;
  std::map<std::string, std::string> hardwareReports;  // data type → the report's text

  bool operator==(const MachineProfile&) const = default;
};

// For each of `counters`, the index of the energy channel it lies within: the
// first earlier energy channel of the same group named by its `within`;
// absent where it names none or no such channel exists.
[[nodiscard]] std::vector<std::optional<std::size_t>> energyParents(const std::vector<ProfileCounter>& counters);

// Reads a profile from JSON text. Throws std::invalid_argument whose message
// names the offending member (for example "machine profile: counters[3].watts:
// expected a number >= 0") for text that is not JSON, a member of the wrong
// type or range, or an unknown member. Throws nothing else.
[[nodiscard]] MachineProfile loadMachineProfile(std::string_view json);

// Largest profile file `loadMachineProfileFile` reads.
inline constexpr std::size_t kMaxProfileFileBytes = std::size_t{16} << 20;

// Reads the profile file at `path`, as `loadMachineProfile` reads its text.
// Absent when the file cannot be opened or read; throws std::invalid_argument
// for a file larger than kMaxProfileFileBytes (a device such as /dev/zero
// never ends) and for text `loadMachineProfile` refuses. Blocks on the read.
[[nodiscard]] std::optional<MachineProfile> loadMachineProfileFile(const std::string& path);

// Checks the ranges `loadMachineProfile` enforces on a profile built in code.
// Throws std::invalid_argument naming the offending member.
void validateMachineProfile(const MachineProfile& profile);

// The built-in profile of an Apple Silicon laptop (12-core "Apple M3 Pro",
// 18 GiB, charging from a 96 W USB-C adapter) as JSON text, and read.
[[nodiscard]] std::string_view builtinProfileJson();
[[nodiscard]] MachineProfile builtinProfile();

}  // namespace calorim::fake
