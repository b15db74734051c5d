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
  const auto v = number(device, "energy_mj");
  if (!v) return kNotSupported;
  *mj = *v;
  return kSuccess;
}

int nvmlDeviceGetPowerUsage(void* device, unsigned int* mw) {
  const auto v = number(device, "power_mw");
  if (!v) return kNotSupported;
  *mw = static_cast<unsigned int>(*v);
  return kSuccess;
}

int nvmlDeviceGetUtilizationRates(void* device, void* out) {
  const auto v = number(device, "util");
  if (!v) return kNotSupported;
  *static_cast<FakeUtilization*>(out) = FakeUtilization{static_cast<unsigned int>(*v), 0};
  return kSuccess;
}

int nvmlDeviceGetClockInfo(void* device, int /*type*/, unsigned int* mhz) {
  const auto v = number(device, "clock_mhz");
  if (!v) return kNotSupported;
  *mhz = static_cast<unsigned int>(*v);
  return kSuccess;
}

int nvmlDeviceGetTemperature(void* device, int /*sensor*/, unsigned int* celsius) {
  const auto v = number(device, "temp_c");
  if (!v) return kNotSupported;
  *celsius = static_cast<unsigned int>(*v);
  return kSuccess;
}

}  // extern "C"
