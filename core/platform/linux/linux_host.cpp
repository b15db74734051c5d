#include "core/platform/linux/linux_host.h"

#include <limits>
#include <utility>

#include "core/platform/linux/cpu_topology.h"
#include "core/platform/linux/data_sources.h"
#include "core/platform/linux/powercap.h"
#include "core/platform/linux/proc_stat.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

// Enough for the whole of proc/meminfo and the first processors of proc/cpuinfo.
constexpr std::size_t kSmallTableLimit = 65536;

// Calls `visit(line)` for each line of `text` until it returns true.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    if (visit(text.substr(0, newline))) return;
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
  }
}

// "Key : value" (cpuinfo pads the key with tabs, meminfo the value with spaces).
std::pair<std::string_view, std::string_view> splitKeyValue(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {trim(line), {}};
  return {trim(line.substr(0, colon)), trim(line.substr(colon + 1))};
}

std::optional<std::uint64_t> kibToBytes(std::string_view value) {
  if (!value.ends_with("kB")) return std::nullopt;
  value.remove_suffix(2);
  const std::optional<std::uint64_t> kib = parseUnsigned(value);
  if (!kib || *kib > std::numeric_limits<std::uint64_t>::max() / 1024) return std::nullopt;
  return *kib * 1024;
}

std::optional<std::int64_t> readNumber(std::string_view& text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  const std::optional<std::uint64_t> n = parseUnsigned(text.substr(0, digits));
  if (!n || *n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
  text.remove_prefix(digits);
  return static_cast<std::int64_t>(*n);
}

}  // namespace

MemInfo parseMemInfo(std::string_view text) {
  MemInfo info;
  forEachLine(text, [&](std::string_view line) {
    const auto [key, value] = splitKeyValue(line);
    if (key == "MemTotal") {
      info.totalBytes = kibToBytes(value);
    } else if (key == "MemAvailable") {
      info.availableBytes = kibToBytes(value);
    } else if (key == "SwapTotal") {
      info.swapTotalBytes = kibToBytes(value);
    } else if (key == "SwapFree") {
      info.swapFreeBytes = kibToBytes(value);
    }
    return false;
  });
  return info;
}

std::optional<std::string> parseCpuModelName(std::string_view text) {
  std::optional<std::string> model;
  forEachLine(text, [&](std::string_view line) {
    const auto [key, value] = splitKeyValue(line);
    if (key != "model name") return false;
    if (!value.empty()) model = std::string(value);
    return true;
  });
  return model;
}

std::optional<OsVersion> parseKernelRelease(std::string_view text) {
  text = trim(text);
  OsVersion version{"Linux", 0, 0, 0};
  std::optional<std::int64_t> major = readNumber(text);
  if (!major) return std::nullopt;
  version.major = *major;
  for (std::int64_t* part : {&version.minor, &version.patch}) {
    if (!text.starts_with('.')) break;
    text.remove_prefix(1);
    const std::optional<std::int64_t> n = readNumber(text);
    if (!n) break;
    *part = *n;
  }
  return version;
}

LinuxHost::LinuxHost(std::filesystem::path root) : root_(std::move(root)) {}

std::optional<std::vector<CpuTicks>> LinuxHost::processorTicks() {
  const std::optional<std::vector<ProcStatCpu>> stat = readProcStat(root_);
  if (!stat || stat->empty()) return std::nullopt;
  std::vector<CpuTicks> ticks;
  ticks.reserve(stat->size());
  for (const ProcStatCpu& cpu : *stat) {
    ticks.push_back(CpuTicks{cpu.user, cpu.system + cpu.irq + cpu.softirq, cpu.idleAll(), cpu.nice});
  }
  return ticks;
}

namespace {

std::optional<std::vector<int>> onlineCpus(const std::filesystem::path& root) {
  if (std::optional<std::vector<int>> online = readOnlineCpus(root); online && !online->empty()) return online;
  const std::optional<std::vector<ProcStatCpu>> stat = readProcStat(root);
  if (!stat || stat->empty()) return std::nullopt;
  std::vector<int> cpus;
  for (const ProcStatCpu& cpu : *stat) cpus.push_back(cpu.cpu);
  return cpus;
}

std::optional<CpuKinds> hybridKinds(const std::filesystem::path& root) {
  const std::optional<std::vector<int>> cpus = onlineCpus(root);
  if (!cpus) return std::nullopt;
  CpuKinds kinds = readCpuKinds(root, *cpus);
  if (!kinds.hybrid()) return std::nullopt;
  return kinds;
}

std::optional<std::string> deviceTreeModel(const std::filesystem::path& root) {
  for (const char* path : {"sys/firmware/devicetree/base/model", "proc/device-tree/model"}) {
    if (std::optional<std::string> model = readAttribute(root / path); model && !model->empty()) return model;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> LinuxHost::systemText(std::string_view name) {
  if (name == "machdep.cpu.brand_string") {
    if (std::optional<std::string> cpuinfo = readTable(root_ / "proc/cpuinfo", kSmallTableLimit)) {
      if (std::optional<std::string> model = parseCpuModelName(*cpuinfo)) return model;
    }
    return deviceTreeModel(root_);
  }
  if (name == "hw.perflevel0.name" || name == "hw.perflevel1.name") {
    if (!hybridKinds(root_)) return std::nullopt;
    return std::string(name == "hw.perflevel0.name" ? "Performance" : "Efficiency");
  }
  return std::nullopt;
}

std::optional<std::int64_t> LinuxHost::systemInteger(std::string_view name) {
  if (name == "hw.logicalcpu") {
    const std::optional<std::vector<int>> cpus = onlineCpus(root_);
    if (!cpus) return std::nullopt;
    return static_cast<std::int64_t>(cpus->size());
  }
  if (name == "hw.perflevel0.logicalcpu" || name == "hw.perflevel1.logicalcpu") {
    const std::optional<CpuKinds> kinds = hybridKinds(root_);
    if (!kinds) return std::nullopt;
    return static_cast<std::int64_t>(name == "hw.perflevel0.logicalcpu" ? kinds->performance.size()
                                                                        : kinds->efficiency.size());
  }
  if (name == "hw.physicalcpu") {
    const std::optional<std::vector<int>> cpus = onlineCpus(root_);
    if (!cpus) return std::nullopt;
    return static_cast<std::int64_t>(countPhysicalCores(root_, *cpus));
  }
  if (name == "hw.perflevel0.physicalcpu" || name == "hw.perflevel1.physicalcpu") {
    const std::optional<CpuKinds> kinds = hybridKinds(root_);
    if (!kinds) return std::nullopt;
    return static_cast<std::int64_t>(
        countPhysicalCores(root_, name == "hw.perflevel0.physicalcpu" ? kinds->performance : kinds->efficiency));
  }
  if (name == kPackagePowerLimitName) {
    const std::optional<std::uint64_t> uw = packageLongTermLimitUw(root_);
    if (!uw) return std::nullopt;
    return static_cast<std::int64_t>(*uw / 1000);
  }
  if (name == "hw.memsize") {
    const std::optional<std::string> text = readTable(root_ / "proc/meminfo", kSmallTableLimit);
    if (!text) return std::nullopt;
    const std::optional<std::uint64_t> total = parseMemInfo(*text).totalBytes;
    if (!total || *total > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(*total);
  }
  return std::nullopt;
}

namespace {

// `whole − free` from two meminfo fields; absent unless both are known, never below 0.
std::optional<std::uint64_t> usedBytes(const std::optional<std::uint64_t>& whole,
                                       const std::optional<std::uint64_t>& free) {
  if (!whole || !free) return std::nullopt;
  return *whole > *free ? *whole - *free : 0;
}

}  // namespace

std::optional<std::uint64_t> LinuxHost::memoryUsedBytes() {
  const std::optional<std::string> text = readTable(root_ / "proc/meminfo", kSmallTableLimit);
  if (!text) return std::nullopt;
  const MemInfo info = parseMemInfo(*text);
  return usedBytes(info.totalBytes, info.availableBytes);
}

std::optional<std::uint64_t> LinuxHost::swapUsedBytes() {
  const std::optional<std::string> text = readTable(root_ / "proc/meminfo", kSmallTableLimit);
  if (!text) return std::nullopt;
  const MemInfo info = parseMemInfo(*text);
  return usedBytes(info.swapTotalBytes, info.swapFreeBytes);
}

std::optional<OsVersion> LinuxHost::osVersion() {
  const std::optional<std::string> release = readAttribute(root_ / "proc/sys/kernel/osrelease");
  if (!release) return std::nullopt;
  return parseKernelRelease(*release);
}

std::vector<DataSource> LinuxHost::dataSources() { return readDataSources(root_); }

}  // namespace calorim::sysfs
