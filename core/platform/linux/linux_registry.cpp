#include "core/platform/linux/linux_registry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "core/base/little_endian.h"
#include "core/platform/linux/gpus.h"
#include "core/platform/linux/sysfs_dir.h"

namespace calorim::sysfs {
namespace {

constexpr std::string_view kBatteryClass = "AppleSmartBattery";
constexpr std::string_view kUsbDeviceClass = "IOUSBHostDevice";
constexpr std::string_view kGpuTableClass = "AppleARMIODevice";

struct BatteryService final : RegistryService {};
struct GpuTableService final : RegistryService {};

struct GpuService final : RegistryService {
  explicit GpuService(std::size_t i) : index(i) {}
  std::size_t index;
};

struct UsbDeviceService final : RegistryService {
  explicit UsbDeviceService(std::filesystem::path d) : dir(std::move(d)) {}
  std::filesystem::path dir;
};

// A computed figure as an integer; absent when it is not finite or beyond any
// plausible reading (which also keeps the conversion defined for hostile input).
std::optional<std::int64_t> whole(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 1e15) return std::nullopt;
  return static_cast<std::int64_t>(std::llround(value));
}

std::optional<std::int64_t> scaled(const std::optional<std::int64_t>& value, double divisor) {
  if (!value) return std::nullopt;
  return whole(std::fabs(static_cast<double>(*value)) / divisor);
}

// µV × µA (or any two micro-units) as the product's milli-unit.
std::optional<std::int64_t> productMilli(const std::optional<std::int64_t>& a, const std::optional<std::int64_t>& b) {
  if (!a || !b) return std::nullopt;
  return whole(std::fabs(static_cast<double>(*a)) * std::fabs(static_cast<double>(*b)) / 1e9);
}

// A battery's current in mA; batteries that report only power and voltage
// (many ACPI firmwares) get power ÷ voltage.
std::optional<std::int64_t> batteryCurrentMilli(const PowerSupply& b) {
  if (auto ma = scaled(b.currentNow, 1000.0)) return ma;
  if (!b.powerNow || !b.voltageNow || *b.voltageNow == 0) return std::nullopt;
  return whole(std::fabs(static_cast<double>(*b.powerNow)) / std::fabs(static_cast<double>(*b.voltageNow)) * 1000.0);
}

std::optional<std::int64_t> percent(const std::optional<std::int64_t>& now, const std::optional<std::int64_t>& full) {
  if (!now || !full || *full <= 0 || *now < 0) return std::nullopt;
  return whole(100.0 * static_cast<double>(*now) / static_cast<double>(*full));
}

std::optional<std::int64_t> batteryPercent(const PowerSupply& b) {
  if (b.capacity) return b.capacity;
  if (auto p = percent(b.energyNow, b.energyFull)) return p;
  return percent(b.chargeNow, b.chargeFull);
}

// The charge of all batteries together: the sum of their energy when every one
// reports it, else the mean of their percentages.
std::optional<std::int64_t> capacityPercent(const std::vector<const PowerSupply*>& batteries) {
  std::optional<std::int64_t> result;
  if (batteries.size() == 1) {
    result = batteryPercent(*batteries.front());
  } else if (std::all_of(batteries.begin(), batteries.end(),
                         [](const PowerSupply* b) { return b->energyNow && b->energyFull && *b->energyFull > 0; })) {
    double now = 0;
    double full = 0;
    for (const PowerSupply* b : batteries) {
      now += static_cast<double>(*b->energyNow);
      full += static_cast<double>(*b->energyFull);
    }
    result = whole(100.0 * now / full);
  } else {
    double sum = 0;
    int count = 0;
    for (const PowerSupply* b : batteries) {
      if (const auto p = batteryPercent(*b)) {
        sum += static_cast<double>(*p);
        ++count;
      }
    }
    if (count > 0) result = whole(sum / count);
  }
  if (result) result = std::clamp<std::int64_t>(*result, 0, 100);
  return result;
}

// The supply feeding the machine: an online mains or USB supply, preferring
// one with a PD contract, then one that reports its voltage.
const PowerSupply* inputSupply(const std::vector<PowerSupply>& supplies) {
  const PowerSupply* best = nullptr;
  int bestScore = -1;
  for (const PowerSupply& s : supplies) {
    if (!s.isExternalSource() || !s.isOnline()) continue;
    const bool pd = s.usbType && s.usbType->starts_with("PD");
    const int score = (pd ? 2 : 0) + (s.voltageNow ? 1 : 0);
    if (score > bestScore) {
      best = &s;
      bestScore = score;
    }
  }
  return best;
}

std::string describeKind(const PowerSupply& s) {
  if (s.usbType) {
    const std::string& t = *s.usbType;
    if (t == "PD" || t == "PD_DRP") return "USB-C PD";
    if (t == "PD_PPS") return "USB-C PD PPS";
    if (t == "C") return "USB-C";
    if (t == "SDP" || t == "DCP" || t == "CDP" || t == "ACA") return "USB " + t;
  }
  if (s.type == "Mains") return "Mains";
  return "USB";
}

std::optional<std::int64_t> adapterWatts(const PowerSupply& s, const std::vector<Pdo>& pdos) {
  if (!pdos.empty()) {
    const auto best = std::max_element(pdos.begin(), pdos.end(),
                                       [](const Pdo& a, const Pdo& b) { return a.maxPowerMw() < b.maxPowerMw(); });
    return whole(static_cast<double>(best->maxPowerMw()) / 1000.0);
  }
  if (auto mw = productMilli(s.voltageMax, s.currentMax)) return whole(static_cast<double>(*mw) / 1000.0);
  if (auto w = scaled(s.powerNow, 1e6)) return w;
  if (auto mw = productMilli(s.voltageNow, s.currentNow)) return whole(static_cast<double>(*mw) / 1000.0);
  return std::nullopt;
}

// The offer in use: the fixed PDO at the contract's voltage. Only a plain PD
// contract qualifies; a PPS contract's voltage is not one of the fixed offers.
std::int64_t activePdoIndex(const PowerSupply& s, const std::vector<Pdo>& pdos) {
  if (s.usbType != "PD" || !s.voltageNow) return -1;
  const std::optional<std::int64_t> mv = scaled(s.voltageNow, 1000.0);
  if (!mv) return -1;
  for (const Pdo& pdo : pdos) {
    if (pdo.kind == PdoKind::fixedSupply && std::llabs(pdo.maxVoltageMv - *mv) <= 50) return pdo.position - 1;
  }
  return -1;
}

RegistryDictionary adapterDictionary(const PowerSupply& s, const std::vector<Pdo>& pdos) {
  RegistryDictionary d;
  if (auto w = adapterWatts(s, pdos)) d.set("Watts", *w);
  if (auto mv = scaled(s.voltageNow ? s.voltageNow : s.voltageMax, 1000.0)) d.set("AdapterVoltage", *mv);
  if (auto ma = scaled(s.currentNow ? s.currentNow : s.currentMax, 1000.0)) d.set("Current", *ma);
  if (s.modelName) d.set("Name", *s.modelName);
  if (s.manufacturer) d.set("Manufacturer", *s.manufacturer);
  if (s.serialNumber) d.set("SerialString", *s.serialNumber);
  // The kind in words; the kernel's name of the supply ("ucsi-source-psy-USBC000:001") means nothing to a reader.
  d.set("Description", describeKind(s));
  RegistryArray menu;
  for (const Pdo& pdo : pdos) {
    RegistryDictionary entry{{"Index", std::int64_t{pdo.position - 1}},
                             {"MaxVoltage", pdo.maxVoltageMv},
                             {"MaxCurrent", pdo.maxCurrentMa}};
    if (pdo.minVoltageMv) entry.set("MinVoltage", *pdo.minVoltageMv);
    menu.emplace_back(std::move(entry));
  }
  if (!menu.empty()) d.set("UsbHvcMenu", std::move(menu));
  d.set("UsbHvcHvcIndex", activePdoIndex(s, pdos));
  return d;
}

RegistryDictionary telemetryDictionary(const PowerSupply* input, const std::vector<const PowerSupply*>& batteries) {
  RegistryDictionary d;
  if (input != nullptr) {
    if (auto mv = scaled(input->voltageNow, 1000.0)) d.set("SystemVoltageIn", *mv);
    // A USB-C port controller reports the negotiated current, not what flows.
    if (!input->reportsContract()) {
      if (auto ma = scaled(input->currentNow, 1000.0)) d.set("SystemCurrentIn", *ma);
      std::optional<std::int64_t> mw = scaled(input->powerNow, 1000.0);
      if (!mw) mw = productMilli(input->voltageNow, input->currentNow);
      if (mw) d.set("SystemPowerIn", *mw);
    }
  }
  std::optional<std::int64_t> discharge;
  for (const PowerSupply* b : batteries) {
    if (b->status != "Discharging") continue;
    std::optional<std::int64_t> mw = scaled(b->powerNow, 1000.0);
    if (!mw) mw = productMilli(b->currentNow, b->voltageNow);
    if (mw) discharge = discharge.value_or(0) + *mw;
  }
  if (discharge) d.set("BatteryPower", *discharge);
  return d;
}

}  // namespace

namespace detail {

std::optional<RegistryDictionary> batteryDictionary(const std::vector<PowerSupply>& supplies,
                                                    const std::vector<Pdo>& chargerPdos) {
  std::vector<const PowerSupply*> batteries;
  for (const PowerSupply& s : supplies) {
    if (s.isSystemBattery()) batteries.push_back(&s);
  }
  if (batteries.empty()) return std::nullopt;
  const PowerSupply* input = inputSupply(supplies);

  RegistryDictionary d;
  if (auto p = capacityPercent(batteries)) d.set("CurrentCapacity", *p);
  d.set("IsCharging", std::any_of(batteries.begin(), batteries.end(),
                                  [](const PowerSupply* b) { return b->status == "Charging"; }));
  d.set("FullyCharged", std::all_of(batteries.begin(), batteries.end(),
                                    [](const PowerSupply* b) { return b->status == "Full"; }));
  d.set("ExternalConnected", input != nullptr);
  if (auto mv = scaled(batteries.front()->voltageNow, 1000.0)) d.set("Voltage", *mv);
  std::optional<std::int64_t> amperage;
  for (const PowerSupply* b : batteries) {
    if (auto ma = batteryCurrentMilli(*b)) {
      amperage = amperage.value_or(0) + (b->status == "Discharging" ? -*ma : *ma);
    }
  }
  if (amperage) d.set("Amperage", *amperage);
  if (batteries.front()->cycleCount.value_or(0) > 0) d.set("CycleCount", *batteries.front()->cycleCount);
  if (input != nullptr) d.set("AdapterDetails", adapterDictionary(*input, chargerPdos));
  d.set("PowerTelemetryData", telemetryDictionary(input, batteries));
  return d;
}

RegistryDictionary usbDeviceDictionary(const UsbDevice& device) {
  RegistryDictionary d;
  if (device.product) {
    d.set("USB Product Name", *device.product);
    d.set("kUSBProductString", *device.product);
  }
  if (device.manufacturer) {
    d.set("kUSBVendorString", *device.manufacturer);
    d.set("USB Vendor Name", *device.manufacturer);
  }
  if (device.serial) {
    d.set("kUSBSerialNumberString", *device.serial);
    d.set("USB Serial Number", *device.serial);
  }
  if (device.speedBitsPerSecond) d.set("UsbLinkSpeed", *device.speedBitsPerSecond);
  if (device.vendorId) d.set("idVendor", *device.vendorId);
  if (device.productId) d.set("idProduct", *device.productId);
  if (device.deviceClass) d.set("bDeviceClass", *device.deviceClass);
  if (device.bcdUsb) d.set("bcdUSB", *device.bcdUsb);
  if (device.deviceNumber) d.set("USB Address", *device.deviceNumber);
  return d;
}

RegistryBytes gpuClockTable(int maxMHz) {
  RegistryBytes table(static_cast<std::size_t>(maxMHz) * 8, 0);
  for (int mhz = 1; mhz <= maxMHz; ++mhz) {
    const auto hz = static_cast<std::uint32_t>(mhz) * 1'000'000u;
    storeLE32(table, static_cast<std::size_t>(mhz - 1) * 8, hz);
  }
  return table;
}

}  // namespace detail

LinuxRegistry::LinuxRegistry(std::filesystem::path root, std::shared_ptr<GpuSet> gpus)
    : root_(std::move(root)), gpus_(gpus && gpus->size() > 0 ? std::move(gpus) : nullptr) {}

std::vector<std::unique_ptr<RegistryService>> LinuxRegistry::matchingServices(std::string_view className) {
  std::vector<std::unique_ptr<RegistryService>> services;
  if (className == kBatteryClass) {
    const std::vector<PowerSupply> supplies = readPowerSupplies(root_);
    if (std::any_of(supplies.begin(), supplies.end(), [](const PowerSupply& s) { return s.isSystemBattery(); })) {
      services.push_back(std::make_unique<BatteryService>());
    }
  } else if (className == kGpuTableClass && gpus_) {
    services.push_back(std::make_unique<GpuTableService>());
  } else if (className == kGpuClass && gpus_) {
    for (std::size_t i = 0; i < gpus_->size(); ++i) services.push_back(std::make_unique<GpuService>(i));
  } else if (className == kUsbDeviceClass) {
    for (std::filesystem::path& dir : listUsbDevices(root_)) {
      services.push_back(std::make_unique<UsbDeviceService>(std::move(dir)));
    }
  }
  return services;
}

std::optional<RegistryDictionary> LinuxRegistry::batteryProperties(bool withPdos) const {
  return detail::batteryDictionary(readPowerSupplies(root_), withPdos ? readChargerPdos(root_) : std::vector<Pdo>{});
}

std::optional<RegistryDictionary> LinuxRegistry::properties(const RegistryService& service) {
  if (dynamic_cast<const BatteryService*>(&service) != nullptr) return batteryProperties(true);
  if (dynamic_cast<const GpuTableService*>(&service) != nullptr) {
    return RegistryDictionary{{"voltage-states9", detail::gpuClockTable(GpuSet::kMaxClockMHz)}};
  }
  if (const auto* gpu = dynamic_cast<const GpuService*>(&service)) {
    if (!gpus_ || gpu->index >= gpus_->size()) return std::nullopt;
    const GpuDevice& device = gpus_->device(gpu->index);
    RegistryDictionary properties{{std::string(kGpuModelKey), device.displayName()},
                                  {std::string(kGpuIntegratedKey), device.energySource() != GpuEnergySource::own},
                                  {std::string(kGpuPowerKey), device.energySource() != GpuEnergySource::none}};
    const std::optional<double> watts = gpus_->powerLimitW(gpu->index);
    if (const std::optional<std::int64_t> mw = watts ? whole(*watts * 1000) : std::nullopt) {
      properties.set(std::string(kGpuPowerLimitKey), *mw);
    }
    RegistryDictionary statistics;
    if (const std::optional<double> celsius = gpus_->temperature(gpu->index)) {
      statistics.set(std::string(kGpuTemperatureKey), *celsius);
    }
    properties.set(std::string(kGpuStatisticsKey), std::move(statistics));
    return properties;
  }
  if (const auto* usb = dynamic_cast<const UsbDeviceService*>(&service)) {
    if (!isDirectory(usb->dir)) return std::nullopt;
    return detail::usbDeviceDictionary(readUsbDevice(usb->dir));
  }
  return std::nullopt;
}

std::optional<RegistryValue> LinuxRegistry::property(const RegistryService& service, std::string_view key) {
  std::optional<RegistryDictionary> all;
  // The charger's offers are read only for the one property that shows them.
  if (dynamic_cast<const BatteryService*>(&service) != nullptr) {
    all = batteryProperties(key == "AdapterDetails");
  } else {
    all = properties(service);
  }
  if (!all) return std::nullopt;
  const RegistryValue* value = all->find(key);
  if (value == nullptr) return std::nullopt;
  return *value;
}

}  // namespace calorim::sysfs
