#pragma once
// The host port: per-CPU tick counters, named system values, memory in use,
// the operating system's name and version, and for diagnostics the places the
// backend reads the machine from.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calorim {

// Cumulative ticks of one logical CPU since boot.
struct CpuTicks {
  std::uint64_t user = 0;
  std::uint64_t system = 0;
  std::uint64_t idle = 0;
  std::uint64_t nice = 0;

  bool operator==(const CpuTicks&) const = default;
};

struct OsVersion {
  std::string name;  // "macOS", "Linux", ...
  std::int64_t major = 0;
  std::int64_t minor = 0;
  std::int64_t patch = 0;

  bool operator==(const OsVersion&) const = default;
};

// One place a backend reads the machine from (a sensor chip, an energy zone),
// as a diagnosis lists it: what it is, where, and whether this process can
// read it now.
struct DataSource {
  std::string kind;     // the backend's word for the family ("hwmon", "powercap")
  std::string name;     // the source's own name ("coretemp", "package-0"); empty when it has none
  std::string path;     // where it lives
  bool readable = false;
  std::string problem;  // why it cannot be read ("permission denied"); empty when it can
  bool operator==(const DataSource&) const = default;
};

// The system value of the processor packages' sustained (long-term) power
// limit in mW, where the system publishes one: the Linux host reads RAPL's.
inline constexpr std::string_view kPackagePowerLimitName = "calorim.package.long_term_limit_mw";

class HostPort {
 public:
  virtual ~HostPort() = default;

  // Ticks per logical CPU in processor order; absent when the kernel cannot be asked.
  [[nodiscard]] virtual std::optional<std::vector<CpuTicks>> processorTicks() = 0;

  // A named system value ("machdep.cpu.brand_string", "hw.logicalcpu",
  // "hw.perflevel0.name", "hw.memsize", ...); absent when the system has none.
  [[nodiscard]] virtual std::optional<std::string> systemText(std::string_view name) = 0;
  [[nodiscard]] virtual std::optional<std::int64_t> systemInteger(std::string_view name) = 0;

  // Bytes of memory in use and of swap in use; absent when unknown.
  [[nodiscard]] virtual std::optional<std::uint64_t> memoryUsedBytes() = 0;
  [[nodiscard]] virtual std::optional<std::uint64_t> swapUsedBytes() = 0;

  [[nodiscard]] virtual std::optional<OsVersion> osVersion() = 0;
  // The sources the backend reads sensors and energy from, each tried once,
  // for a diagnosis; empty where the backend has none of its own to list.
  // Reads many small files: not for a sampling loop.
  [[nodiscard]] virtual std::vector<DataSource> dataSources() { return {}; }
};

}  // namespace calorim
