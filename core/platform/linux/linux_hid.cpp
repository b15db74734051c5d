#include "core/platform/linux/linux_hid.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "core/base/text.h"
#include "core/platform/linux/hwmon.h"
#include "core/platform/linux/sysfs_file.h"
#include "core/platform/linux/thermal_zone.h"

namespace calorim::sysfs {
namespace {

constexpr std::uint32_t kUsagePage = 0xFF00;
constexpr std::uint32_t kTemperatureUsage = 5;

// The number after `prefix` in a label ("Core 12" → 12); absent otherwise.
std::optional<std::uint64_t> numberAfter(const std::optional<std::string>& label, std::string_view prefix) {
  if (!label || !label->starts_with(prefix)) return std::nullopt;
  return parseUnsigned(std::string_view(*label).substr(prefix.size()));
}

bool isCpuChip(const std::string& name) { return name == "coretemp" || name == "k10temp" || name == "zenpower"; }
// GPU chips outside the GPU set.
bool isGpuChip(const std::string& name) { return name == "radeon" || name == "nouveau"; }

bool isSocZone(const std::string& type) {
  const std::string t = lowerCase(type);
  if (t.find("x86") != std::string::npos) return false;
  for (std::string_view word : {"cpu", "soc", "core", "cluster", "bcm2835"}) {
    if (t.find(word) != std::string::npos) return true;
  }
  return false;
}

struct CoretempChip {
  const HwmonChip* chip;
  std::vector<HwmonChannel> channels;
  std::uint64_t package;
};

void addCoretemp(std::vector<CoretempChip> chips, std::vector<detail::HidSource>& out) {
  std::stable_sort(chips.begin(), chips.end(),
                   [](const CoretempChip& a, const CoretempChip& b) { return a.package < b.package; });
  std::uint64_t coreOffset = 0;
  for (const CoretempChip& c : chips) {
    std::uint64_t cores = 0;
    for (const HwmonChannel& ch : c.channels) {
      std::optional<std::uint64_t> package = numberAfter(ch.label, "Package id ");
      if (!package) package = numberAfter(ch.label, "Physical id ");  // kernels before 3.x
      if (package) {
        out.push_back({"pACC package " + std::to_string(*package), ch.input});
      } else if (const auto core = numberAfter(ch.label, "Core "); core && *core < 100000) {
        out.push_back({"PMU tdie" + std::to_string(coreOffset + *core), ch.input});
        cores = std::max(cores, *core + 1);
      }
    }
    coreOffset += cores;
  }
}

void addAmdCpu(const std::vector<HwmonChannel>& channels, int ordinal, std::vector<detail::HidSource>& out) {
  const HwmonChannel* tdie = nullptr;
  const HwmonChannel* tctl = nullptr;
  for (const HwmonChannel& ch : channels) {
    if (ch.label == "Tdie") tdie = &ch;
    // Kernels before 5.6 give the control temperature as an unlabelled temp1.
    if (ch.label == "Tctl" || (!ch.label && ch.index == 1)) tctl = &ch;
  }
  const std::string package = "pACC package " + std::to_string(ordinal);
  if (const HwmonChannel* die = tdie != nullptr ? tdie : tctl) out.push_back({package, die->input});
  for (const HwmonChannel& ch : channels) {
    if (const auto ccd = numberAfter(ch.label, "Tccd")) {
      const std::string prefix = ordinal == 0 ? std::string("pACC") : package;
      out.push_back({prefix + " ccd" + std::to_string(*ccd), ch.input});
    }
  }
}

void addGpu(const HwmonChip& chip, const std::vector<HwmonChannel>& channels, std::vector<detail::HidSource>& out) {
  const auto edge = std::find_if(channels.begin(), channels.end(), [](const HwmonChannel& ch) {
    return ch.label ? *ch.label == "edge" : ch.index == 1;
  });
  if (edge == channels.end()) return;
  out.push_back({"GPU " + readDrmCardName(chip).value_or(chip.dir), edge->input});
}

class Client final : public HidClient {
 public:
  Client(const std::vector<detail::HidSource>& sources, std::shared_ptr<GpuSet> gpus) : gpus_(std::move(gpus)) {
    sensors_.reserve(sources.size());
    for (const auto& s : sources) sensors_.push_back({s.product, KeptFile(s.millidegrees)});
    for (std::size_t i = 0; gpus_ && i < gpus_->size(); ++i) {
      if (!gpus_->temperature(i)) continue;
      const std::string& name = gpus_->device(i).name();
      gpuSensors_.push_back({name.starts_with("GPU") ? name : "GPU " + name, i});
    }
  }

  void setMatching(std::uint32_t primaryUsagePage, std::uint32_t primaryUsage) override {
    matchesTemperatures_ = primaryUsagePage == kUsagePage && primaryUsage == kTemperatureUsage;
  }

  std::optional<std::vector<HidSensor>> copyServices() override {
    std::vector<HidSensor> services;
    if (!matchesTemperatures_) return services;
    // The GPU that used the most energy stands for all of them when it has a reading.
    std::optional<HidSensor> lead;
    if (const std::optional<std::size_t> i = gpus_ ? gpus_->lead() : std::nullopt) {
      const auto it = std::find_if(gpuSensors_.begin(), gpuSensors_.end(), [&](const GpuSensor& g) { return g.gpu == *i; });
      if (it != gpuSensors_.end()) {
        if (const std::optional<double> celsius = gpus_->temperature(*i)) lead = HidSensor{it->product, celsius};
      }
    }
    services.reserve(sensors_.size() + gpuSensors_.size());
    for (Sensor& s : sensors_) {
      if (lead && s.product.starts_with("GPU")) continue;
      const std::optional<std::string> text = s.file.read();
      services.push_back({s.product, text ? parseMillidegrees(*text) : std::nullopt});
    }
    if (lead) {
      services.push_back(*lead);
    } else {
      for (const GpuSensor& g : gpuSensors_) services.push_back({g.product, gpus_->temperature(g.gpu)});
    }
    return services;
  }

 private:
  struct Sensor {
    std::string product;
    KeptFile file;
  };
  struct GpuSensor {
    std::string product;
    std::size_t gpu;
  };
  std::shared_ptr<GpuSet> gpus_;
  std::vector<Sensor> sensors_;
  std::vector<GpuSensor> gpuSensors_;  // the set's GPUs that had a reading when the client was made
  // Temperature sensors are the only services; a client that matches anything else finds none.
  bool matchesTemperatures_ = true;
};

}  // namespace

namespace detail {

std::vector<HidSource> findHidSources(const std::filesystem::path& root) {
  const std::vector<HwmonChip> chips = readHwmonChips(root);
  std::vector<HidSource> sources;

  std::vector<CoretempChip> coretemp;
  for (const HwmonChip& chip : chips) {
    if (chip.name != "coretemp") continue;
    std::vector<HwmonChannel> channels = readHwmonChannels(chip, "temp");
    std::uint64_t package = coretemp.size();
    for (const HwmonChannel& ch : channels) {
      if (const auto id = numberAfter(ch.label, "Package id ")) package = *id;
    }
    coretemp.push_back({&chip, std::move(channels), package});
  }
  addCoretemp(std::move(coretemp), sources);

  int amdOrdinal = 0;
  for (const HwmonChip& chip : chips) {
    if (chip.name == "k10temp" || chip.name == "zenpower") {
      addAmdCpu(readHwmonChannels(chip, "temp"), amdOrdinal++, sources);
    } else if (isGpuChip(chip.name)) {
      addGpu(chip, readHwmonChannels(chip, "temp"), sources);
    }
  }

  const bool haveCpuChip = std::any_of(chips.begin(), chips.end(), [](const HwmonChip& c) { return isCpuChip(c.name); });
  int packageOrdinal = 0;
  int socOrdinal = 0;
  for (const ThermalZone& zone : readThermalZones(root)) {
    if (zone.type == "x86_pkg_temp") {
      if (!haveCpuChip) sources.push_back({"pACC package " + std::to_string(packageOrdinal++), zone.temp});
    } else if (lowerCase(zone.type).find("gpu") != std::string::npos) {
      sources.push_back({"GPU " + zone.type, zone.temp});
    } else if (isSocZone(zone.type) && !haveCpuChip) {
      sources.push_back({"SOC MTR Temp Sensor" + std::to_string(socOrdinal++), zone.temp});
    }
  }
  return sources;
}

}  // namespace detail

LinuxHid::LinuxHid(std::filesystem::path root, std::shared_ptr<GpuSet> gpus)
    : root_(std::move(root)), gpus_(std::move(gpus)) {}

std::unique_ptr<HidClient> LinuxHid::createClient() {
  return std::make_unique<Client>(detail::findHidSources(root_), gpus_);
}

}  // namespace calorim::sysfs
