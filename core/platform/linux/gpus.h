#pragma once
// The machine's GPUs beyond what RAPL sees, and how each one is read.
//
//   amdgpu (hwmon "amdgpu")   power1_average, else power1_input (µW, an average
//                             the set integrates into energy); busy from the
//                             device's gpu_busy_percent; clock from hwmon
//                             freq1_input (Hz), else the starred line of
//                             pp_dpm_sclk; temperature "edge", else "junction".
//                             An APU (it has the northbridge voltage in1) reports
//                             the whole package, CPU included, in power1_*: the
//                             CPU's RAPL counters already hold that energy, so an
//                             APU has no power of its own here.
//   Intel i915 / xe (hwmon)   discrete cards: energy1_input (µJ counter); busy
//                             from the render engine's idle (RC6) residency;
//                             clock gt_act_freq_mhz (i915) or tile0/gt0/freq0/act_freq (xe);
//                             temperature "pkg", else the first sensor.
//   Intel integrated (drm)    a card with the same busy and clock files and no
//                             hwmon: its energy is the RAPL uncore zone.
//   NVIDIA (NVML)             total energy (mJ) where the board counts it, else
//                             power (mW) integrated; utilization, graphics
//                             clock and temperature.
//
// Each GPU has an identity for the counter and sensor channels: "GPU <card>"
// ("GPU card1") for the kernel's cards, the device's own name for NVML devices;
// and a name to show: NVML's name, the PCI ids database's name of the card
// (see pci_ids.h), else the vendor and the card ("AMD GPU card1"). Its power
// cap, where the driver sets one: amdgpu power1_cap, i915/xe power1_max (µW),
// NVML's enforced power limit (mW). An amdgpu card without a power file of its
// own (only a temperature) has no energy. The set also
// remembers which GPU drew the most energy in the latest delta (the lead),
// whose busy time, clock and temperature stand for "the GPU".
//
// Reads of the set are serialised by one lock, so the counter and sensor ports
// may use it from several threads.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/clock_port.h"

namespace calorim::sysfs {

// Where a GPU's energy comes from.
enum class GpuEnergySource {
  own,         // its own counter or power reading
  raplUncore,  // the RAPL uncore zone (integrated Intel graphics)
  none,        // not separable from the CPU's (an APU), or not reported
};

// One reading of one GPU. Absent values could not be read at that moment.
struct GpuReading {
  std::optional<std::uint64_t> energyUj;  // a cumulative counter
  std::optional<std::uint64_t> powerUw;   // an average power, when there is no counter
  std::optional<double> busy;             // fraction of time busy, 0 to 1, just now
  std::optional<std::uint64_t> idleMs;    // cumulative idle residency
  std::optional<double> clockMHz;
};

class GpuDevice {
 public:
  GpuDevice(std::string name, std::string displayName, GpuEnergySource energy)
      : name_(std::move(name)), displayName_(std::move(displayName)), energy_(energy) {}
  virtual ~GpuDevice() = default;
  GpuDevice(const GpuDevice&) = delete;
  GpuDevice& operator=(const GpuDevice&) = delete;

  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] const std::string& displayName() const { return displayName_; }
  [[nodiscard]] GpuEnergySource energySource() const { return energy_; }

  [[nodiscard]] virtual GpuReading read() = 0;
  // °C; absent when the GPU has no sensor or it cannot be read now.
  [[nodiscard]] virtual std::optional<double> temperature() = 0;
  // The power cap in W; absent when the driver reports none or it cannot be read now.
  [[nodiscard]] virtual std::optional<double> powerLimitW() = 0;

 private:
  std::string name_;
  std::string displayName_;
  GpuEnergySource energy_;
};

// A GPU in one raw sample: its energy as a counter (a power reading already
// integrated), its busy readings and the moment it was read.
struct GpuSample {
  std::optional<std::uint64_t> energyUj;
  std::optional<double> busy;
  std::optional<std::uint64_t> idleMs;
  std::optional<double> clockMHz;
  std::chrono::steady_clock::time_point at;
};

class GpuSet {
 public:
  // The highest clock a GPU is reported at, in MHz.
  static constexpr int kMaxClockMHz = 4000;
  // The library that the NVIDIA driver installs.
  static constexpr std::string_view kNvmlLibrary = "libnvidia-ml.so.1";

  // Finds the GPUs under `root`, then NVIDIA's through `nvmlLibrary` (nothing
  // is loaded when it is empty). `clock` times the integration of power readings.
  GpuSet(const std::filesystem::path& root, std::shared_ptr<ClockPort> clock,
         std::string_view nvmlLibrary = kNvmlLibrary);
  ~GpuSet();
  GpuSet(const GpuSet&) = delete;
  GpuSet& operator=(const GpuSet&) = delete;

  [[nodiscard]] std::size_t size() const { return devices_.size(); }
  [[nodiscard]] const GpuDevice& device(std::size_t i) const { return *devices_[i]; }

  // Reads every GPU once. A power reading adds power × the time since the
  // previous reading to that GPU's energy counter, which starts at 0.
  [[nodiscard]] std::vector<GpuSample> sample();
  [[nodiscard]] std::optional<double> temperature(std::size_t i);
  [[nodiscard]] std::optional<double> powerLimitW(std::size_t i);

  void setLead(std::size_t i) { lead_.store(static_cast<long>(i)); }
  // Absent until a delta has chosen one.
  [[nodiscard]] std::optional<std::size_t> lead() const;

 private:
  GpuSet(std::vector<std::unique_ptr<GpuDevice>> devices, std::shared_ptr<ClockPort> clock);

  struct Integrated {
    std::uint64_t energyUj = 0;
    std::optional<std::chrono::steady_clock::time_point> last;
  };

  std::shared_ptr<ClockPort> clock_;
  std::mutex mutex_;  // guards the devices' reads and `integrated_`
  std::vector<std::unique_ptr<GpuDevice>> devices_;
  std::vector<Integrated> integrated_;
  std::atomic<long> lead_{-1};
};

// The clock marked with "*" in an amdgpu DPM table ("1: 1800Mhz *"), in MHz.
// Absent when no line is marked or the marked line does not read as
// "<level>: <number>Mhz". Pure.
[[nodiscard]] std::optional<double> parseDpmClock(std::string_view text);

// The busy fraction from the idle residency gained over a wall time:
// 1 − idle / wall, within 0 and 1; absent when no wall time passed. Pure.
[[nodiscard]] std::optional<double> busyFromIdle(std::uint64_t idleMs, double wallMs);

}  // namespace calorim::sysfs
