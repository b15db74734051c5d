#pragma once
// A clock for tests of the Linux backend over a writable machine tree: time
// stands still until someone sleeps, and every second slept makes the
// machine's counters run on at fixed rates.
//  - RAPL zones: `energy_uj` gains the zone's rate in µJ per second and wraps
//    past its `max_energy_range_uj` as the kernel's counter does.
//  - proc/stat: each "cpuN" line gains its CPU's ticks per second, and the
//    all-CPU "cpu" line the sum of them.
//  - any other counter file (a GPU's energy, its idle residency): its number
//    gains its rate per second.
//  - control groups: the "usage_usec" line of a group's cpu.stat gains its
//    rate in µs per second.
// Files are rewritten in place, as the kernel updates them behind descriptors
// that readers keep open. Rates are applied as whole µJ and ticks, rounded.
// Safe to use from several threads.

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/platform/clock_port.h"

namespace calorim::testing {

// Ticks per second of one CPU, by the columns of proc/stat: user, nice, system,
// idle, iowait, irq, softirq, steal.
using TickRates = std::array<std::uint64_t, 8>;

class MachineClock final : public ClockPort {
 public:
  explicit MachineClock(std::filesystem::path root) : root_(std::move(root)) {}

  // `zone` is the folder name under sys/class/powercap, e.g. "intel-rapl:0:1".
  void setEnergyRate(const std::string& zone, std::uint64_t microwatts) {
    setCounterRate("sys/class/powercap/" + zone + "/energy_uj", microwatts);
  }
  // `file` is relative to the root, e.g. "sys/class/hwmon/hwmon1/energy1_input";
  // it wraps past a `max_energy_range_uj` beside it.
  void setCounterRate(const std::string& file, std::uint64_t perSecond) {
    std::lock_guard lock(mutex_);
    counterRates_[file] = perSecond;
  }
  // `group` is the path below sys/fs/cgroup ("." for the root, "system.slice").
  void setCgroupRate(const std::string& group, std::uint64_t microsecondsPerSecond) {
    std::lock_guard lock(mutex_);
    cgroupRates_["sys/fs/cgroup/" + group + "/cpu.stat"] = microsecondsPerSecond;
  }
  void setTickRates(int cpu, TickRates rates) {
    std::lock_guard lock(mutex_);
    tickRates_[cpu] = rates;
  }

  std::chrono::system_clock::time_point now() override {
    std::lock_guard lock(mutex_);
    return kWallStart + std::chrono::duration_cast<std::chrono::system_clock::duration>(elapsed());
  }
  std::chrono::steady_clock::time_point steadyNow() override {
    std::lock_guard lock(mutex_);
    return std::chrono::steady_clock::time_point{} + std::chrono::hours(1) +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(elapsed());
  }
  using ClockPort::sleep;
  void sleep(double seconds) override {
    if (!(seconds > 0)) return;
    std::lock_guard lock(mutex_);
    advanceTicks(seconds);
    for (const auto& [file, rate] : counterRates_) {
      const std::filesystem::path path = root_ / file;
      const std::filesystem::path range = path.parent_path() / "max_energy_range_uj";
      if (!std::filesystem::exists(path)) continue;
      std::uint64_t value = std::stoull(read(path)) + ticks(rate, seconds);
      if (std::filesystem::exists(range) && value > std::stoull(read(range))) value -= std::stoull(read(range));
      std::ofstream(path, std::ios::trunc) << value << '\n';
    }
    for (const auto& [file, rate] : cgroupRates_) advanceUsage(root_ / file, ticks(rate, seconds));
    slept_ += seconds;
  }

 private:
  // 2024-06-03 08:00:00 UTC.
  static constexpr std::chrono::system_clock::time_point kWallStart{std::chrono::seconds(1717401600)};

  std::chrono::duration<double> elapsed() const { return std::chrono::duration<double>(slept_); }

  static std::uint64_t ticks(std::uint64_t perSecond, double seconds) {
    return static_cast<std::uint64_t>(std::llround(static_cast<double>(perSecond) * seconds));
  }

  static std::string read(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }

  static void advanceUsage(const std::filesystem::path& path, std::uint64_t gain) {
    if (!std::filesystem::exists(path)) return;
    std::istringstream in(read(path));
    std::string text;
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with("usage_usec ")) line = "usage_usec " + std::to_string(std::stoull(line.substr(11)) + gain);
      text += line + '\n';
    }
    std::ofstream(path, std::ios::trunc) << text;
  }

  // Each "cpuN" line gains its CPU's ticks, then the "cpu" line all that they gained.
  void advanceTicks(double seconds) const {
    std::istringstream in(read(root_ / "proc/stat"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    TickRates gained{};
    TickRates unused{};
    for (const bool all : {false, true}) {
      for (std::string& line : lines) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (all && key == "cpu") line = "cpu " + advanced(fields, gained, 1.0, unused);
        if (all || !key.starts_with("cpu") || key == "cpu") continue;
        const auto rates = tickRates_.find(std::stoi(key.substr(3)));
        if (rates != tickRates_.end()) line = key + advanced(fields, rates->second, seconds, gained);
      }
    }
    std::ofstream out(root_ / "proc/stat", std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
  }

  // The numbers of `fields` (at least eight) raised by their rates over `seconds`, each gain added to `gained`.
  static std::string advanced(std::istream& fields, const TickRates& rates, double seconds, TickRates& gained) {
    std::vector<std::uint64_t> values{std::istream_iterator<std::uint64_t>(fields), {}};
    values.resize(std::max<std::size_t>(values.size(), 8));
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::uint64_t add = i < 8 ? ticks(rates[i], seconds) : 0;
      if (i < 8) gained[i] += add;
      text += " " + std::to_string(values[i] + add);
    }
    return text;
  }

  std::filesystem::path root_;
  mutable std::mutex mutex_;
  std::map<int, TickRates> tickRates_;
  std::map<std::string, std::uint64_t> counterRates_;
  std::map<std::string, std::uint64_t> cgroupRates_;
  double slept_ = 0;
};

// The laptop fixture at a steady load: package 12 W (core 5 W, graphics
// 2 W, so 5 W for the rest), memory 1.5 W, platform 20 W (its MMIO mirror
// moves with the package); performance cores 0-7 60% busy and efficiency cores
// 8-15 25% busy, at 100 ticks per second, iowait and steal ticks included;
// the graphics 10% busy; of the 6.8 CPUs busy, the control groups' services
// 0.8 (nginx 0.5) and the user's session 5.5.
inline void setSteadyLaptopLoad(MachineClock& clock) {
  clock.setEnergyRate("intel-rapl:0", 12'000'000);
  clock.setEnergyRate("intel-rapl:0:0", 5'000'000);
  clock.setEnergyRate("intel-rapl:0:1", 2'000'000);
  clock.setEnergyRate("intel-rapl:0:2", 1'500'000);
  clock.setEnergyRate("intel-rapl:1", 20'000'000);
  clock.setEnergyRate("intel-rapl-mmio:0", 12'000'000);
  for (int cpu = 0; cpu < 8; ++cpu) clock.setTickRates(cpu, TickRates{40, 6, 10, 30, 10, 2, 2, 4});
  for (int cpu = 8; cpu < 16; ++cpu) clock.setTickRates(cpu, TickRates{15, 0, 6, 70, 5, 2, 2, 0});
  // The integrated graphics idle (in RC6) 900 ms of each second.
  clock.setCounterRate("sys/class/drm/card0/gt/gt0/rc6_residency_ms", 900);
  clock.setCgroupRate(".", 6'800'000);
  clock.setCgroupRate("init.scope", 20'000);
  clock.setCgroupRate("system.slice", 800'000);
  clock.setCgroupRate("system.slice/NetworkManager.service", 100'000);
  clock.setCgroupRate("system.slice/nginx.service", 500'000);
  clock.setCgroupRate("user.slice", 5'500'000);
  clock.setCgroupRate("user.slice/user-1000.slice", 5'500'000);
}

}  // namespace calorim::testing
