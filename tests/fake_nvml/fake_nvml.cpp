// A stand-in for NVIDIA's management library, built as libnvidia-ml.so.1 for
// the tests. Its GPUs are folders under the directory named by the environment
// variable CALORIM_FAKE_NVML, read afresh on every call:
//   gpu<N>/name        the device name
//   gpu<N>/energy_mj   total energy in mJ (absent: not supported)
//   gpu<N>/power_mw    power in mW (absent: not supported)
//   gpu<N>/util        busy percent
//   gpu<N>/clock_mhz   graphics clock
//   gpu<N>/temp_c      temperature
//   init_fails         when present, initialisation fails
// Shutting the library down leaves a file "shut_down" there.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr int kSuccess = 0;
constexpr int kUninitialized = 1;
constexpr int kInvalidArgument = 2;
constexpr int kNotSupported = 3;
constexpr int kUnknown = 999;

fs::path dir() {
  const char* d = std::getenv("CALORIM_FAKE_NVML");
  return d != nullptr ? fs::path(d) : fs::path();
}

std::optional<std::string> text(const fs::path& path) {
  std::ifstream in(path);
  std::string value;
  if (!in || !std::getline(in, value)) return std::nullopt;
  return value;
}

std::optional<unsigned long long> number(void* device, const char* file) {
  const auto index = reinterpret_cast<std::uintptr_t>(device) - 1;
  const std::optional<std::string> t = text(dir() / ("gpu" + std::to_string(index)) / file);
  if (!t) return std::nullopt;
  return std::stoull(*t);
}

// Stores the number in `file` of `device` as the library's answer.
template <typename T>
int readNumber(void* device, const char* file, T* out) {
  const std::optional<unsigned long long> value = number(device, file);
  if (!value) return kNotSupported;
  *out = static_cast<T>(*value);
  return kSuccess;
}

bool initialised = false;

}  // namespace

extern "C" {

struct FakeUtilization {
  unsigned int gpu;
  unsigned int memory;
};

int nvmlInit_v2() {
  if (dir().empty() || fs::exists(dir() / "init_fails")) return kUnknown;
  initialised = true;
  return kSuccess;
}

int nvmlShutdown() {
  if (!initialised) return kUninitialized;
  initialised = false;
  std::ofstream(dir() / "shut_down") << "1\n";
  return kSuccess;
}

int nvmlDeviceGetCount_v2(unsigned int* count) {
  if (!initialised) return kUninitialized;
  unsigned int n = 0;
  while (fs::exists(dir() / ("gpu" + std::to_string(n)))) ++n;
  *count = n;
  return kSuccess;
}

int nvmlDeviceGetHandleByIndex_v2(unsigned int index, void** device) {
  unsigned int count = 0;
  if (nvmlDeviceGetCount_v2(&count) != kSuccess) return kUninitialized;
  if (index >= count) return kInvalidArgument;
  *device = reinterpret_cast<void*>(std::uintptr_t{index} + 1);
  return kSuccess;
}

int nvmlDeviceGetName(void* device, char* name, unsigned int length) {
  const auto index = reinterpret_cast<std::uintptr_t>(device) - 1;
  const std::optional<std::string> t = text(dir() / ("gpu" + std::to_string(index)) / "name");
  if (!t || t->size() + 1 > length) return kInvalidArgument;
  std::memcpy(name, t->c_str(), t->size() + 1);
  return kSuccess;
}

int nvmlDeviceGetTotalEnergyConsumption(void* device, unsigned long long* mj) {
  return readNumber(device, "energy_mj", mj);
}

int nvmlDeviceGetPowerUsage(void* device, unsigned int* mw) { return readNumber(device, "power_mw", mw); }

int nvmlDeviceGetUtilizationRates(void* device, void* out) {
  auto* rates = static_cast<FakeUtilization*>(out);
  rates->memory = 0;
  return readNumber(device, "util", &rates->gpu);
}

int nvmlDeviceGetClockInfo(void* device, int /*type*/, unsigned int* mhz) { return readNumber(device, "clock_mhz", mhz); }

int nvmlDeviceGetEnforcedPowerLimit(void* device, unsigned int* mw) { return readNumber(device, "power_limit_mw", mw); }

int nvmlDeviceGetTemperature(void* device, int /*sensor*/, unsigned int* celsius) {
  return readNumber(device, "temp_c", celsius);
}

}  // extern "C"
