#include "core/platform/linux/nvml.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

namespace calorim::sysfs {
namespace {

// The library's C interface, as far as it is used here.
using Return = int;  // nvmlReturn_t; 0 is success
using Device = void*;
struct Utilization {
  unsigned int gpu;
  unsigned int memory;
};
constexpr Return kSuccess = 0;
constexpr int kClockGraphics = 0;
constexpr int kTemperatureGpu = 0;
constexpr unsigned int kMaxDevices = 64;
constexpr unsigned int kNameBytes = 96;

class Library {
 public:
  explicit Library(const std::string& path) : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) return;
    const bool found = bind(init, "nvmlInit_v2") && bind(shutdown, "nvmlShutdown") &&
                       bind(count, "nvmlDeviceGetCount_v2") && bind(handle, "nvmlDeviceGetHandleByIndex_v2") &&
                       bind(name, "nvmlDeviceGetName") && bind(power, "nvmlDeviceGetPowerUsage") &&
                       bind(energy, "nvmlDeviceGetTotalEnergyConsumption") &&
                       bind(utilization, "nvmlDeviceGetUtilizationRates") && bind(clock, "nvmlDeviceGetClockInfo") &&
                       bind(temperature, "nvmlDeviceGetTemperature");
    // Older drivers lack the limit; the GPU is still read without it.
    bind(powerLimit, "nvmlDeviceGetEnforcedPowerLimit");
    initialised_ = found && init() == kSuccess;
  }
  ~Library() {
    if (initialised_) shutdown();
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  [[nodiscard]] bool ready() const { return initialised_; }

  Return (*init)() = nullptr;
  Return (*shutdown)() = nullptr;
  Return (*count)(unsigned int*) = nullptr;
  Return (*handle)(unsigned int, Device*) = nullptr;
  Return (*name)(Device, char*, unsigned int) = nullptr;
  Return (*power)(Device, unsigned int*) = nullptr;
  Return (*energy)(Device, unsigned long long*) = nullptr;
  Return (*utilization)(Device, void*) = nullptr;  // fills a Utilization
  Return (*clock)(Device, int, unsigned int*) = nullptr;
  Return (*temperature)(Device, int, unsigned int*) = nullptr;
  Return (*powerLimit)(Device, unsigned int*) = nullptr;  // mW; may be missing

 private:
  template <typename F>
  bool bind(F& function, const char* symbol) {
    function = reinterpret_cast<F>(::dlsym(handle_, symbol));
    return function != nullptr;
  }

  void* handle_;
  bool initialised_ = false;
};

class NvmlGpu final : public GpuDevice {
 public:
  NvmlGpu(std::string name, std::string displayName, std::shared_ptr<Library> library, Device device)
      : GpuDevice(std::move(name), std::move(displayName), GpuEnergySource::own),
        library_(std::move(library)),
        device_(device) {}

  GpuReading read() override {
    GpuReading r;
    unsigned long long mj = 0;
    unsigned int value = 0;
    // Boards that count energy (Volta and newer) count it more exactly than an
    // integrated power reading.
    if (library_->energy(device_, &mj) == kSuccess && mj <= UINT64_MAX / 1000) {
      r.energyUj = static_cast<std::uint64_t>(mj) * 1000;
    } else if (library_->power(device_, &value) == kSuccess) {
      r.powerUw = std::uint64_t{value} * 1000;
    }
    Utilization u{};
    if (library_->utilization(device_, &u) == kSuccess && u.gpu <= 100) r.busy = u.gpu / 100.0;
    if (library_->clock(device_, kClockGraphics, &value) == kSuccess) r.clockMHz = value;
    return r;
  }

  std::optional<double> temperature() override {
    unsigned int celsius = 0;
    if (library_->temperature(device_, kTemperatureGpu, &celsius) != kSuccess) return std::nullopt;
    return static_cast<double>(celsius);
  }

  std::optional<double> powerLimitW() override {
    unsigned int mw = 0;
    if (library_->powerLimit == nullptr || library_->powerLimit(device_, &mw) != kSuccess || mw == 0) {
      return std::nullopt;
    }
    return mw / 1000.0;
  }

 private:
  std::shared_ptr<Library> library_;
  Device device_;
};

// A device name that the core's energy rules file under "other", and so
// count once, as this GPU; names they would take for another domain, or for a
// CPU cluster, give way to a plain one.
std::string channelName(const char* reported, unsigned int index) {
  std::string name(reported, ::strnlen(reported, kNameBytes));
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  static constexpr std::array<std::string_view, 14> kTaken = {
      "cpu energy", "gpu energy", "gpu", "dram", "amcc", "dcs", "disp", "dispext", "afr", "isp", "ave", "msr", "prores",
      "avd"};
  bool taken = name.empty() || std::find(kTaken.begin(), kTaken.end(), lower) != kTaken.end();
  for (std::string_view part : {"ane", "dtl", "eacc", "pacc", "ecpu", "pcpu"}) {
    taken = taken || lower.find(part) != std::string::npos;
  }
  return taken ? "GPU nvidia" + std::to_string(index) : name;
}

}  // namespace

std::vector<std::unique_ptr<GpuDevice>> findNvmlGpus(const std::string& library) {
  std::vector<std::unique_ptr<GpuDevice>> gpus;
  if (library.empty()) return gpus;
  auto lib = std::make_shared<Library>(library);
  unsigned int count = 0;
  if (!lib->ready() || lib->count(&count) != kSuccess) return gpus;
  for (unsigned int i = 0; i < count && i < kMaxDevices; ++i) {
    Device device = nullptr;
    if (lib->handle(i, &device) != kSuccess) continue;
    std::array<char, kNameBytes> name{};
    if (lib->name(device, name.data(), kNameBytes) != kSuccess) name[0] = '\0';
    std::string shown(name.data(), ::strnlen(name.data(), kNameBytes));
    if (shown.empty()) shown = "NVIDIA GPU " + std::to_string(i);
    gpus.push_back(std::make_unique<NvmlGpu>(channelName(name.data(), i), std::move(shown), lib, device));
  }
  return gpus;
}

}  // namespace calorim::sysfs
