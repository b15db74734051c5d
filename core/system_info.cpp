#include "core/system_info.h"

#include <algorithm>

#include "core/base/text.h"
#include "core/base/units.h"
#include "core/json.h"
#include "core/machine_description.h"
#include "core/base/utf8.h"

namespace calorim {
namespace {

// A system text up to its first NUL, with ill-formed UTF-8 repaired.
std::string systemText(HostPort& host, std::string_view name) {
  std::string text = host.systemText(name).value_or("");
  text.resize(std::min(text.size(), text.find('\0')));
  return repairUtf8(text);
}

}  // namespace

SystemInfo::SystemInfo(std::string chipName, std::int64_t eCores, std::int64_t pCores, std::int64_t gpuCores,
                       double totalMemoryGB, std::string machineName, std::string osVersion)
    : chipName_(std::move(chipName)),
      eCores_(eCores),
      pCores_(pCores),
      gpuCores_(gpuCores),
      totalMemoryGB_(totalMemoryGB),
      machineName_(std::move(machineName)),
      osVersion_(std::move(osVersion)) {}

std::string chipName(HostPort& host) { return systemText(host, "machdep.cpu.brand_string"); }

std::pair<std::int64_t, std::int64_t> coreCounts(HostPort& host) {
  if (const std::optional<std::int64_t> level0 = host.systemInteger("hw.perflevel0.logicalcpu")) {
    const std::string name = lowerCase(systemText(host, "hw.perflevel0.name"));
    const std::int64_t level1 = host.systemInteger("hw.perflevel1.logicalcpu").value_or(0);
    const bool performanceFirst = name.find("performance") != std::string::npos;
    const std::int64_t e = performanceFirst ? level1 : *level0;
    const std::int64_t p = performanceFirst ? *level0 : level1;
    if (e != 0 || p != 0) return {e, p};
  }
  return {0, host.systemInteger("hw.logicalcpu").value_or(0)};
}

std::int64_t gpuCoreCount(RegistryPort& registry) {
  const auto services = registry.matchingServices("AGXAccelerator");
  if (services.empty()) return 0;
  const std::optional<RegistryDictionary> properties = registry.properties(*services.front());
  if (!properties) return 0;
  const RegistryValue* count = properties->find("gpu-core-count");
  const std::int64_t* value = count != nullptr ? count->as<std::int64_t>() : nullptr;
  return value != nullptr ? *value : 0;
}

std::string machineName(HardwareReportPort& reports, const StopToken& stop) {
  const std::string unknown(reports.unknownMachineName());
  const std::optional<std::string> text = reports.report("SPHardwareDataType", stop);
  if (!text) return unknown;
  const std::optional<Json> parsed = readJson(*text);
  if (!parsed || !parsed->is_object()) return unknown;
  const Json& report = *parsed;
  const auto items = report.find("SPHardwareDataType");
  if (items == report.end() || !items->is_array() || items->empty()) return unknown;
  if (!std::all_of(items->begin(), items->end(), [](const Json& item) { return item.is_object(); })) {
    return unknown;
  }
  const auto name = items->front().find("machine_name");
  if (name == items->front().end() || !name->is_string()) return unknown;
  return name->get<std::string>();
}

std::string osVersion(HostPort& host) {
  const std::optional<OsVersion> version = host.osVersion();
  if (!version) return "Unknown";
  return version->name + " " + std::to_string(version->major) + "." + std::to_string(version->minor) + "." +
         std::to_string(version->patch);
}

SystemInfo systemInfo(Platform& platform, const StopToken& stop) {
  return systemInfo(platform, machineName(*platform.hardwareReport, stop));
}

SystemInfo systemInfo(Platform& platform, std::string machineName) {
  std::string chip = chipName(*platform.host);
  const CpuTopology cores = cpuTopology(*platform.host);
  const std::int64_t e = cores.efficiencyCores;
  const std::int64_t p = cores.performanceCores;
  const std::int64_t gpuCores = gpuCoreCount(*platform.registry);
  const std::int64_t memory = std::max<std::int64_t>(0, platform.host->systemInteger("hw.memsize").value_or(0));
  std::string os = osVersion(*platform.host);
  return SystemInfo(std::move(chip), e, p, gpuCores, static_cast<double>(memory) / kBytesPerGB,
                    std::move(machineName), std::move(os));
}

}  // namespace calorim
