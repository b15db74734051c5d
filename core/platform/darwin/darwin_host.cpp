// The host port over the Mach host calls and sysctl.

#include <mach/mach.h>
#include <sys/sysctl.h>

#include <algorithm>
#include <limits>
#include <string>

#include "core/platform/darwin/darwin_platform.h"
#include "core/platform/darwin/darwin_values.h"
#include "core/platform/darwin/handles.h"

namespace calorim::darwin {
namespace {

// Longer than any named text the system holds; a larger size is not believed.
constexpr std::size_t kMaxSystemText = 64 * 1024;

// The bytes of a named value, asked for by size first; absent when the system
// has no such value or it is larger than `limit`.
std::optional<std::string> systemBytes(std::string_view name, std::size_t limit) {
  const std::string key(name);
  if (key.empty() || key.find('\0') != std::string::npos) return std::nullopt;
  std::size_t size = 0;
  if (sysctlbyname(key.c_str(), nullptr, &size, nullptr, 0) != 0 || size > limit) return std::nullopt;
  std::string bytes(size, '\0');
  if (sysctlbyname(key.c_str(), bytes.data(), &size, nullptr, 0) != 0 || size > bytes.size()) return std::nullopt;
  bytes.resize(size);
  return bytes;
}

std::uint64_t pagesToBytes(std::uint64_t pages) {
  const std::uint64_t pageSize = vm_kernel_page_size;
  if (pageSize != 0 && pages > std::numeric_limits<std::uint64_t>::max() / pageSize) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return pages * pageSize;
}

class MachHost final : public HostPort {
 public:

  std::optional<std::vector<CpuTicks>> processorTicks() override {
    natural_t cpuCount = 0;
    processor_info_array_t info = nullptr;
    mach_msg_type_number_t infoCount = 0;
    if (host_processor_info(host_.get(), PROCESSOR_CPU_LOAD_INFO, &cpuCount, &info, &infoCount) !=
            KERN_SUCCESS ||
        info == nullptr) {
      return std::nullopt;
    }
    std::vector<CpuTicks> ticks;
    const std::size_t cpus = std::min<std::size_t>(cpuCount, infoCount / CPU_STATE_MAX);
    ticks.reserve(cpus);
    for (std::size_t i = 0; i < cpus; ++i) {
      const integer_t* cpu = info + i * CPU_STATE_MAX;
      const auto tick = [&](int state) { return std::uint64_t{static_cast<std::uint32_t>(cpu[state])}; };
      ticks.push_back(
          CpuTicks{tick(CPU_STATE_USER), tick(CPU_STATE_SYSTEM), tick(CPU_STATE_IDLE), tick(CPU_STATE_NICE)});
    }
    vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(info), infoCount * sizeof(integer_t));
    return ticks;
  }

  std::optional<std::string> systemText(std::string_view name) override {
    std::optional<std::string> bytes = systemBytes(name, kMaxSystemText);
    if (!bytes) return std::nullopt;
    return systemTextFromBytes(*bytes);
  }

  std::optional<std::int64_t> systemInteger(std::string_view name) override {
    const std::optional<std::string> bytes = systemBytes(name, sizeof(std::int64_t));
    if (!bytes) return std::nullopt;
    return systemIntegerFromBytes(*bytes);
  }

  std::optional<std::uint64_t> memoryUsedBytes() override {
    vm_statistics64_data_t statistics{};
    mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
    if (host_statistics64(host_.get(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&statistics), &count) !=
        KERN_SUCCESS) {
      return std::nullopt;
    }
    const std::uint64_t pages = std::uint64_t{statistics.active_count} + statistics.wire_count +
                                statistics.compressor_page_count;
    return pagesToBytes(pages);
  }

  std::optional<std::uint64_t> swapUsedBytes() override {
    xsw_usage usage{};
    std::size_t size = sizeof usage;
    if (sysctlbyname("vm.swapusage", &usage, &size, nullptr, 0) != 0 || size != sizeof usage) return std::nullopt;
    return usage.xsu_used;
  }

  std::optional<OsVersion> osVersion() override {
    const std::optional<std::string> text = systemText("kern.osproductversion");
    if (!text) return std::nullopt;
    return parseProductVersion(*text);
  }

 private:
  HostSendRight host_;  // taken once for every call
};

}  // namespace

std::unique_ptr<HostPort> makeHost() { return std::make_unique<MachHost>(); }

}  // namespace calorim::darwin
