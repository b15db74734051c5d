#pragma once
// The host port: per-CPU tick counters, named system values, memory in use and
// the operating system's name and version.

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
};

}  // namespace calorim
