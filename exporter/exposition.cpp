#include "exporter/exposition.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/base/decimal.h"
#include "core/base/utf8.h"

namespace calorim::exporter {
namespace {

// A family's name as its samples carry it, and its name in the metadata lines
// of each format: OpenMetrics names a counter without "_total" and an info
// family without "_info".
struct Family {
  std::string_view sampleName;
  std::string_view help;
  std::string_view type;  // "counter", "gauge" or "info" (a gauge in the text format)
  std::string_view unit = {};  // the name's last word when it is a unit; written in OpenMetrics
};

void appendNumber(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
  } else if (std::isinf(value)) {
    out += value > 0 ? "+Inf" : "-Inf";
  } else {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    out.append(buffer, result.ptr);
  }
}

void appendNumber(std::string& out, std::uint64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void appendEscaped(std::string& out, std::string_view value) {
  const std::string repaired = isValidUtf8(value) ? std::string() : repairUtf8(value);
  for (const char c : repaired.empty() ? value : std::string_view(repaired)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
}

class Writer {
 public:
  Writer(std::string& out, ExpositionFormat format) : out_(out), format_(format) {}

  void header(const Family& family) {
    std::string_view name = family.sampleName;
    std::string_view type = family.type;
    if (format_ == ExpositionFormat::openMetrics) {
      if (type == "counter") name.remove_suffix(std::string_view("_total").size());
      if (type == "info") name.remove_suffix(std::string_view("_info").size());
    } else if (type == "info") {
      type = "gauge";
    }
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += family.help;
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
    if (format_ == ExpositionFormat::openMetrics && !family.unit.empty()) {
      out_ += "# UNIT ";
      out_ += name;
      out_ += ' ';
      out_ += family.unit;
      out_ += '\n';
    }
  }

  template <typename Number>
  void sample(const Family& family, Number value) {
    out_ += family.sampleName;
    out_ += ' ';
    appendNumber(out_, value);
    out_ += '\n';
  }

  template <typename Number>
  void sample(const Family& family, std::string_view label, std::string_view labelValue, Number value) {
    out_ += family.sampleName;
    out_ += '{';
    out_ += label;
    out_ += "=\"";
    appendEscaped(out_, labelValue);
    out_ += "\"} ";
    appendNumber(out_, value);
    out_ += '\n';
  }

  void labelled(const Family& family, std::string_view label, const std::vector<LabelledValue>& series) {
    if (series.empty()) return;
    header(family);
    for (const LabelledValue& s : series) sample(family, label, s.label, s.value);
  }

  template <typename Number>
  void single(const Family& family, const std::optional<Number>& value) {
    if (!value) return;
    header(family);
    sample(family, *value);
  }

  void processes(const Family& power, const Family& info, const std::vector<ProcessValue>& series,
                 std::string_view method) {
    if (series.empty()) return;
    header(info);
    out_ += info.sampleName;
    out_ += "{method=\"";
    appendEscaped(out_, method);
    out_ += "\"} 1\n";
    header(power);
    char pid[24];
    for (const ProcessValue& p : series) {
      const auto end = std::to_chars(pid, pid + sizeof pid, p.pid).ptr;
      out_ += power.sampleName;
      out_ += "{pid=\"";
      out_.append(pid, end);
      out_ += "\",name=\"";
      appendEscaped(out_, p.name);
      out_ += "\"} ";
      appendNumber(out_, p.value);
      out_ += '\n';
    }
  }

  void machine(const Family& family, const MachineLabels& m) {
    header(family);
    out_ += family.sampleName;
    const std::pair<std::string_view, std::string_view> labels[] = {
        {"chip", m.chip}, {"machine", m.machine}, {"os", m.os}, {"simulated", m.simulated ? "true" : "false"}};
    char separator = '{';
    for (const auto& [name, value] : labels) {
      out_ += separator;
      out_ += name;
      out_ += "=\"";
      appendEscaped(out_, value);
      out_ += '"';
      separator = ',';
    }
    out_ += "} 1\n";
  }

 private:
  std::string& out_;
  ExpositionFormat format_;
};

constexpr Family kEnergy{"calorim_energy_joules_total",
                         "Energy used since the exporter started, by part of the machine; the parts do not overlap.",
                         "counter", "joules"};
constexpr Family kPower{"calorim_power_watts",
                        "Average power over the last sampling interval, by part of the machine; the parts do not "
                        "overlap.",
                        "gauge", "watts"};
constexpr Family kTotalEnergy{"calorim_total_energy_joules_total",
                              "Energy the machine's counters measured since the exporter started, all parts together.",
                              "counter", "joules"};
constexpr Family kTotalPower{"calorim_total_power_watts",
                             "Average power of all measured parts together over the last sampling interval.", "gauge",
                             "watts"};
constexpr Family kPlatformEnergy{"calorim_platform_energy_joules_total",
                                 "Energy of the whole platform since the exporter started, as its own counter measures "
                                 "it (RAPL psys); it holds the total and more, so it is never added to it.",
                                 "counter", "joules"};
constexpr Family kPlatformPower{"calorim_platform_power_watts",
                                "Average power of the whole platform over the last sampling interval (RAPL psys), the "
                                "closest figure to the power drawn from the wall; never added to the total.",
                                "gauge", "watts"};
constexpr Family kClusterEnergy{"calorim_cpu_cluster_energy_joules_total",
                                "Energy used since the exporter started by one CPU cluster, a share of the cpu domain.",
                                "counter", "joules"};
constexpr Family kClusterPower{"calorim_cpu_cluster_power_watts",
                               "Average power of one CPU cluster over the last interval, a share of the cpu domain.",
                               "gauge", "watts"};
constexpr Family kEnergyAvailable{"calorim_energy_available",
                                  "1 while the energy counters are read, else 0 with the reason.", "gauge"};
constexpr Family kCgroupEnergy{
    "calorim_cgroup_cpu_energy_joules_total",
    "CPU energy used by a control group and the groups below it since the exporter started, estimated from its "
    "share of the CPU time.",
    "counter", "joules"};
constexpr Family kProcessPower{"calorim_process_power_watts",
                               "CPU power of one of the processes using the most over the last interval (how it was "
                               "found: calorim_process_power_method_info).",
                               "gauge", "watts"};
constexpr Family kProcessMethod{"calorim_process_power_method_info",
                                "How process power is found: cpuTimeShare (an estimate from CPU time) or osEnergy "
                                "(measured by the system); always 1.",
                                "info"};
constexpr Family kCpuUsage{"calorim_cpu_usage_ratio", "Busy share of the CPUs over the last interval.", "gauge",
                           "ratio"};
constexpr Family kCoreUsage{"calorim_cpu_core_usage_ratio", "Busy share of one logical CPU over the last interval.",
                            "gauge", "ratio"};
constexpr Family kGpuUsage{"calorim_gpu_usage_ratio", "Active share of the GPU over the last interval.", "gauge",
                           "ratio"};
constexpr Family kGpuFrequency{"calorim_gpu_frequency_hertz", "Mean GPU frequency while active over the last interval.",
                               "gauge", "hertz"};
constexpr Family kTemperature{"calorim_temperature_celsius", "Temperature by sensor.", "gauge", "celsius"};
constexpr Family kFan{"calorim_fan_speed_rpm", "Fan speed in revolutions per minute.", "gauge", "rpm"};
constexpr Family kBatteryCharge{"calorim_battery_charge_ratio", "Battery charge as a share of its capacity.", "gauge",
                                "ratio"};
constexpr Family kBatteryCharging{"calorim_battery_charging", "1 while the battery charges, else 0.", "gauge"};
constexpr Family kAdapter{"calorim_adapter_power_watts", "Rated power of the connected power adapter.", "gauge",
                          "watts"};
constexpr Family kMemory{"calorim_memory_used_bytes", "Memory in use.", "gauge", "bytes"};
constexpr Family kSwap{"calorim_swap_used_bytes", "Swap in use.", "gauge", "bytes"};
constexpr Family kMachine{"calorim_machine_info", "The machine measured; always 1.", "info"};
constexpr Family kFailures{"calorim_sample_failures_total", "Samples whose energy counters could not be read.",
                           "counter"};
constexpr Family kLastSample{"calorim_last_sample_timestamp_seconds", "Unix time of the latest finished sample.",
                             "gauge", "seconds"};

struct MediaRange {
  std::string_view type;
  std::optional<std::string_view> version;
  double quality = 1;
};

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

MediaRange parseMediaRange(std::string_view text) {
  MediaRange range;
  std::size_t semicolon = text.find(';');
  range.type = trim(text.substr(0, semicolon));
  while (semicolon != std::string_view::npos) {
    text.remove_prefix(semicolon + 1);
    semicolon = text.find(';');
    const std::string_view parameter = trim(text.substr(0, semicolon));
    const std::size_t equals = parameter.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = trim(parameter.substr(0, equals));
    std::string_view value = trim(parameter.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (equalsIgnoringCase(name, "q")) {
      const std::optional<double> q = parseDecimal(value);
      range.quality = q && *q >= 0 && *q <= 1 ? *q : 0;
    } else if (equalsIgnoringCase(name, "version")) {
      range.version = value;
    }
  }
  return range;
}

}  // namespace

std::string formatExposition(const MetricsState& state, ExpositionFormat format) {
  std::string out;
  out.reserve(2048 + 96 * (state.coreUsage.size() + state.temperatures.size()));
  Writer w(out, format);

  w.labelled(kEnergy, "domain", state.energyJoules);
  w.labelled(kPower, "domain", state.powerWatts);
  w.single(kTotalEnergy, state.totalEnergyJoules);
  w.single(kTotalPower, state.totalPowerWatts);
  w.single(kPlatformEnergy, state.platformEnergyJoules);
  w.single(kPlatformPower, state.platformPowerWatts);
  w.labelled(kClusterEnergy, "cluster", state.clusterEnergyJoules);
  w.labelled(kClusterPower, "cluster", state.clusterPowerWatts);
  w.header(kEnergyAvailable);
  if (state.energyUnavailableReason.empty()) {
    w.sample(kEnergyAvailable, 1.0);
  } else {
    w.sample(kEnergyAvailable, "reason", state.energyUnavailableReason, 0.0);
  }
  w.labelled(kCgroupEnergy, "cgroup", state.cgroupEnergyJoules);
  w.processes(kProcessPower, kProcessMethod, state.processPowerWatts, state.processMethod);
  w.labelled(kCpuUsage, "cpus", state.cpuUsage);
  if (!state.coreUsage.empty()) {
    w.header(kCoreUsage);
    char index[24];
    for (std::size_t i = 0; i < state.coreUsage.size(); ++i) {
      const auto end = std::to_chars(index, index + sizeof index, i).ptr;
      w.sample(kCoreUsage, "cpu", std::string_view(index, static_cast<std::size_t>(end - index)), state.coreUsage[i]);
    }
  }
  w.single(kGpuUsage, state.gpuUsage);
  w.single(kGpuFrequency, state.gpuFrequencyHz);
  w.labelled(kTemperature, "sensor", state.temperatures);
  w.labelled(kFan, "fan", state.fans);
  w.single(kBatteryCharge, state.batteryCharge);
  if (state.batteryCharging) w.single(kBatteryCharging, std::optional<double>(*state.batteryCharging ? 1.0 : 0.0));
  w.single(kAdapter, state.adapterWatts);
  w.single(kMemory, state.memoryUsedBytes);
  w.single(kSwap, state.swapUsedBytes);
  w.machine(kMachine, state.machine);
  w.single(kFailures, std::optional<std::uint64_t>(state.sampleFailures));
  w.single(kLastSample, state.lastSampleTime);

  if (format == ExpositionFormat::openMetrics) out += "# EOF\n";
  return out;
}

ExpositionFormat negotiateFormat(std::string_view accept) {
  double openMetrics = 0;
  double text = 0;
  while (!accept.empty()) {
    const std::size_t comma = accept.find(',');
    const MediaRange range = parseMediaRange(accept.substr(0, comma));
    accept.remove_prefix(comma == std::string_view::npos ? accept.size() : comma + 1);
    if (equalsIgnoringCase(range.type, "application/openmetrics-text")) {
      if (!range.version || *range.version == "1.0.0") openMetrics = std::max(openMetrics, range.quality);
    } else if (equalsIgnoringCase(range.type, "text/plain")) {
      if (!range.version || *range.version == "0.0.4") text = std::max(text, range.quality);
    } else if (equalsIgnoringCase(range.type, "text/*") || range.type == "*/*") {
      text = std::max(text, range.quality);
    }
  }
  return openMetrics > 0 && openMetrics >= text ? ExpositionFormat::openMetrics : ExpositionFormat::prometheusText;
}

std::string_view contentType(ExpositionFormat format) {
  return format == ExpositionFormat::openMetrics ? "application/openmetrics-text; version=1.0.0; charset=utf-8"
                                                 : "text/plain; version=0.0.4; charset=utf-8";
}

}  // namespace calorim::exporter
