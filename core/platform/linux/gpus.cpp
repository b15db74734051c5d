#include "core/platform/linux/gpus.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "core/base/units.h"
#include "core/platform/linux/hwmon.h"
#include "core/platform/linux/nvml.h"
#include "core/platform/linux/pci_ids.h"
#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;

std::optional<std::uint64_t> readUnsigned(KeptFile* file) {
  if (file == nullptr) return std::nullopt;
  const std::optional<std::string> text = file->read();
  return text ? parseUnsigned(*text) : std::nullopt;
}

// A kept file for the first of `candidates` that exists now; null when none does.
std::unique_ptr<KeptFile> keepFirst(std::initializer_list<fs::path> candidates) {
  for (const fs::path& path : candidates) {
    std::error_code ec;
    if (fs::exists(path, ec)) return std::make_unique<KeptFile>(path);
  }
  return nullptr;
}

const HwmonChannel* labelled(const std::vector<HwmonChannel>& channels, std::string_view label) {
  const auto it = std::find_if(channels.begin(), channels.end(),
                               [label](const HwmonChannel& c) { return c.label && *c.label == label; });
  return it == channels.end() ? nullptr : &*it;
}

std::unique_ptr<KeptFile> keep(const HwmonChannel* channel) {
  return channel == nullptr ? nullptr : std::make_unique<KeptFile>(channel->input);
}

// "card0", "card12": a DRM card, not one of its connectors ("card0-DP-1") nor a render node.
bool isCardName(std::string_view name) {
  if (name.size() <= 4 || name.size() > 12 || !name.starts_with("card")) return false;
  return std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A power cap file's reading (µW) in W; absent without the file, a reading, or for a cap of 0.
std::optional<double> readMicrowatts(KeptFile* file) {
  const std::optional<std::uint64_t> uw = readUnsigned(file);
  if (!uw || *uw == 0) return std::nullopt;
  return static_cast<double>(*uw) / 1e6;
}

// A hwmon temperature file's reading in °C; absent without the file or a reading.
std::optional<double> readMillidegrees(KeptFile* file) {
  if (file == nullptr) return std::nullopt;
  const std::optional<std::string> text = file->read();
  return text ? parseMillidegrees(*text) : std::nullopt;
}

class AmdGpu final : public GpuDevice {
 public:
  // `apu`: the card is the graphics of the processor's own package.
  AmdGpu(std::string name, std::string displayName, bool apu, const HwmonChip& chip)
      : AmdGpu(std::move(name), std::move(displayName), apu, chip,
               keepFirst({chip.path / "power1_average", chip.path / "power1_input"})) {}

  AmdGpu(std::string name, std::string displayName, bool apu, const HwmonChip& chip,
         std::unique_ptr<KeptFile> power)
      : GpuDevice(std::move(name), std::move(displayName),
                  apu || !power ? GpuEnergySource::none : GpuEnergySource::own),
        power_(std::move(power)) {
    const fs::path device = chip.path / "device";
    if (!apu) cap_ = keepFirst({chip.path / "power1_cap"});
    busy_ = keepFirst({device / "gpu_busy_percent"});
    const std::vector<HwmonChannel> freqs = readHwmonChannels(chip, "freq");
    if (const HwmonChannel* sclk = labelled(freqs, "sclk")) {
      sclkHz_ = keep(sclk);
    } else {
      dpm_ = keepFirst({device / "pp_dpm_sclk"});
    }
    const std::vector<HwmonChannel> temps = readHwmonChannels(chip, "temp");
    const HwmonChannel* edge = labelled(temps, "edge");
    temp_ = keep(edge != nullptr ? edge : labelled(temps, "junction"));
  }

  GpuReading read() override {
    GpuReading r;
    if (energySource() == GpuEnergySource::own) r.powerUw = readUnsigned(power_.get());
    if (const auto percent = readUnsigned(busy_.get()); percent && *percent <= 100) r.busy = *percent / 100.0;
    if (const auto hz = readUnsigned(sclkHz_.get())) {
      r.clockMHz = static_cast<double>(*hz) / kHzPerMHz;
    } else if (dpm_) {
      const std::optional<std::string> table = dpm_->read();
      if (table) r.clockMHz = parseDpmClock(*table);
    }
    return r;
  }

  std::optional<double> temperature() override { return readMillidegrees(temp_.get()); }
  std::optional<double> powerLimitW() override { return readMicrowatts(cap_.get()); }

 private:
  std::unique_ptr<KeptFile> power_, cap_, busy_, sclkHz_, dpm_, temp_;
};

class IntelGpu final : public GpuDevice {
 public:
  // `card` and `device` are the card's and its device's folders; `chip` its
  // hwmon chip, absent for integrated graphics.
  IntelGpu(std::string name, std::string displayName, const fs::path& card, const fs::path& device,
           const HwmonChip* chip)
      : GpuDevice(std::move(name), std::move(displayName),
                  chip != nullptr ? GpuEnergySource::own : GpuEnergySource::raplUncore) {
    const fs::path gt = device / "tile0/gt0";
    idle_ = keepFirst({card / "gt/gt0/rc6_residency_ms", card / "power/rc6_residency_ms", gt / "gtidle/idle_residency_ms"});
    clock_ = keepFirst({card / "gt_act_freq_mhz", card / "gt/gt0/rps_act_freq_mhz", gt / "freq0/act_freq"});
    if (chip == nullptr) return;
    energy_ = keepFirst({chip->path / "energy1_input"});
    cap_ = keepFirst({chip->path / "power1_max"});
    const std::vector<HwmonChannel> temps = readHwmonChannels(*chip, "temp");
    const HwmonChannel* pkg = labelled(temps, "pkg");
    temp_ = keep(pkg != nullptr ? pkg : temps.empty() ? nullptr : &temps.front());
  }

  [[nodiscard]] bool hasActivity() const { return idle_ || clock_; }

  GpuReading read() override {
    GpuReading r;
    r.energyUj = readUnsigned(energy_.get());
    r.idleMs = readUnsigned(idle_.get());
    if (const auto mhz = readUnsigned(clock_.get())) r.clockMHz = static_cast<double>(*mhz);
    return r;
  }

  std::optional<double> temperature() override { return readMillidegrees(temp_.get()); }
  std::optional<double> powerLimitW() override { return readMicrowatts(cap_.get()); }

 private:
  std::unique_ptr<KeptFile> energy_, cap_, idle_, clock_, temp_;
};

std::vector<std::unique_ptr<GpuDevice>> findSysfsGpus(const fs::path& root) {
  std::vector<std::unique_ptr<GpuDevice>> gpus;
  std::set<std::string> cards;
  for (const HwmonChip& chip : readHwmonChips(root)) {
    const bool amd = chip.name == "amdgpu";
    const bool intel = chip.name == "i915" || chip.name == "xe";
    if (!amd && !intel) continue;
    const std::optional<std::string> card = readDrmCardName(chip);
    const std::string label = card.value_or(chip.dir);
    if (card && !cards.insert(*card).second) continue;  // a second chip of the same card
    std::string shown = pciGpuName(root, chip.path / "device").value_or((amd ? "AMD GPU " : "Intel GPU ") + label);
    if (amd) {
      // Only an APU reports its northbridge voltage.
      const std::vector<HwmonChannel> volts = readHwmonChannels(chip, "in");
      const bool apu = labelled(volts, "vddnb") != nullptr;
      gpus.push_back(std::make_unique<AmdGpu>("GPU " + label, std::move(shown), apu, chip));
    } else {
      gpus.push_back(std::make_unique<IntelGpu>("GPU " + label, std::move(shown), chip.path / "device/drm" / label,
                                                chip.path / "device", &chip));
    }
  }
  // Integrated Intel graphics: a card with Intel's clock or idle files and no hwmon chip.
  const fs::path drm = root / "sys/class/drm";
  for (const std::string& card : listDirectory(drm)) {
    if (!isCardName(card) || cards.count(card) != 0) continue;
    std::string shown = pciGpuName(root, drm / card / "device").value_or("Intel GPU " + card);
    auto gpu = std::make_unique<IntelGpu>("GPU " + card, std::move(shown), drm / card, drm / card / "device", nullptr);
    if (gpu->hasActivity()) gpus.push_back(std::move(gpu));
  }
  return gpus;
}

}  // namespace

GpuSet::GpuSet(const fs::path& root, std::shared_ptr<ClockPort> clock, std::string_view nvmlLibrary)
    : GpuSet(findSysfsGpus(root), std::move(clock)) {
  for (auto& gpu : findNvmlGpus(std::string(nvmlLibrary))) {
    devices_.push_back(std::move(gpu));
    integrated_.emplace_back();
  }
}

GpuSet::GpuSet(std::vector<std::unique_ptr<GpuDevice>> devices, std::shared_ptr<ClockPort> clock)
    : clock_(std::move(clock)), devices_(std::move(devices)), integrated_(devices_.size()) {}

GpuSet::~GpuSet() = default;

std::vector<GpuSample> GpuSet::sample() {
  std::lock_guard lock(mutex_);
  std::vector<GpuSample> samples;
  samples.reserve(devices_.size());
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const GpuReading r = devices_[i]->read();
    const auto now = clock_->steadyNow();
    GpuSample s{r.energyUj, r.busy, r.idleMs, r.clockMHz, now};
    if (!s.energyUj && r.powerUw) {
      Integrated& acc = integrated_[i];
      if (acc.last && now > *acc.last) {
        const double seconds = std::chrono::duration<double>(now - *acc.last).count();
        const double uj = static_cast<double>(*r.powerUw) * seconds;
        // A reading beyond any real GPU (over a megawatt-hour) is garbage, not energy.
        if (uj < 3.6e15) acc.energyUj += static_cast<std::uint64_t>(std::llround(uj));
      }
      acc.last = now;
      s.energyUj = acc.energyUj;
    }
    samples.push_back(s);
  }
  return samples;
}

std::optional<double> GpuSet::temperature(std::size_t i) {
  std::lock_guard lock(mutex_);
  return i < devices_.size() ? devices_[i]->temperature() : std::nullopt;
}

std::optional<double> GpuSet::powerLimitW(std::size_t i) {
  std::lock_guard lock(mutex_);
  return i < devices_.size() ? devices_[i]->powerLimitW() : std::nullopt;
}

std::optional<std::size_t> GpuSet::lead() const {
  const long i = lead_.load();
  if (i < 0) return std::nullopt;
  return static_cast<std::size_t>(i);
}

std::optional<double> parseDpmClock(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.ends_with('*')) continue;
    line = trim(line.substr(0, line.size() - 1));
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view value = trim(line.substr(colon + 1));
    if (value.size() < 3) return std::nullopt;
    const std::string_view unit = value.substr(value.size() - 3);
    if (unit != "Mhz" && unit != "MHz") return std::nullopt;
    const std::optional<std::uint64_t> mhz = parseUnsigned(value.substr(0, value.size() - 3));
    if (!mhz || *mhz > 1'000'000) return std::nullopt;
    return static_cast<double>(*mhz);
  }
  return std::nullopt;
}

std::optional<double> busyFromIdle(std::uint64_t idleMs, double wallMs) {
  if (!(wallMs > 0)) return std::nullopt;
  return std::clamp(1.0 - static_cast<double>(idleMs) / wallMs, 0.0, 1.0);
}

}  // namespace calorim::sysfs
