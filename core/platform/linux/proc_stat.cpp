#include "core/platform/linux/proc_stat.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

// proc/stat grows with the CPU count and the interrupt list; a few MiB covers
// the largest machines, and the per-CPU lines come first.
constexpr std::size_t kStatLimit = std::size_t{4} << 20;
constexpr int kMaxCpu = 1 << 16;

std::optional<ProcStatCpu> parseCpuLine(std::string_view line) {
  if (!line.starts_with("cpu")) return std::nullopt;
  line.remove_prefix(3);
  const std::size_t numberEnd = line.find_first_of(" \t");
  const std::optional<std::uint64_t> number = parseUnsigned(line.substr(0, numberEnd));
  if (!number || *number > kMaxCpu || numberEnd == std::string_view::npos) return std::nullopt;
  line.remove_prefix(numberEnd);

  std::array<std::uint64_t, 8> fields{};
  std::size_t count = 0;
  while (count < fields.size()) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    line.remove_prefix(start);
    const std::size_t end = line.find_first_of(" \t");
    const std::optional<std::uint64_t> value = parseUnsigned(line.substr(0, end));
    if (!value) return std::nullopt;
    fields[count++] = *value;
    line = end == std::string_view::npos ? std::string_view() : line.substr(end);
  }
  if (count < 4) return std::nullopt;
  return ProcStatCpu{static_cast<int>(*number), fields[0], fields[1], fields[2], fields[3],
                     fields[4],                 fields[5], fields[6], fields[7]};
}

}  // namespace

std::vector<ProcStatCpu> parseProcStat(std::string_view text) {
  std::vector<ProcStatCpu> cpus;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (std::optional<ProcStatCpu> cpu = parseCpuLine(line)) cpus.push_back(*cpu);
  }
  std::stable_sort(cpus.begin(), cpus.end(), [](const ProcStatCpu& a, const ProcStatCpu& b) { return a.cpu < b.cpu; });
  const auto sameCpu = [](const ProcStatCpu& a, const ProcStatCpu& b) { return a.cpu == b.cpu; };
  cpus.erase(std::unique(cpus.begin(), cpus.end(), sameCpu), cpus.end());
  return cpus;
}

std::optional<std::vector<ProcStatCpu>> readProcStat(const std::filesystem::path& root) {
  const std::optional<std::string> text = readTable(root / "proc/stat", kStatLimit);
  if (!text) return std::nullopt;
  return parseProcStat(*text);
}

}  // namespace calorim::sysfs
