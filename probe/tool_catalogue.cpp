#include "probe/tool_catalogue.h"

#include <cmath>
#include <initializer_list>
#include <utility>

namespace calorim::probe {
namespace {

constexpr double kSnapshotInterval = 1.0;
constexpr double kDefaultTargetTemp = 80.0;
// Below and above anything a machine that still runs can be cooled to.
constexpr int kLowestTargetTemp = -50;
constexpr int kHighestTargetTemp = 150;
constexpr int kDefaultProcessLimit = 10;
constexpr int kMaxProcessLimit = 50;

// --- Schemas -----------------------------------------------------------------

Json typed(const char* type, const char* description) {
  Json schema = Json::object();
  schema["type"] = type;
  schema["description"] = description;
  return schema;
}

Json number(const char* description) { return typed("number", description); }
Json integer(const char* description) { return typed("integer", description); }
Json text(const char* description) { return typed("string", description); }
Json boolean(const char* description) { return typed("boolean", description); }

Json list(Json items, const char* description) {
  Json schema = typed("array", description);
  schema["items"] = std::move(items);
  return schema;
}

struct Member {
  const char* name;
  Json schema;
  bool optional = false;
};

// An object of exactly these members; all but the optional ones always written.
Json object(std::initializer_list<Member> members, const char* description = nullptr) {
  Json schema = Json::object();
  schema["type"] = "object";
  if (description != nullptr) schema["description"] = description;
  Json properties = Json::object();
  Json required = Json::array();
  for (const Member& member : members) {
    properties[member.name] = member.schema;
    if (!member.optional) required.push_back(member.name);
  }
  schema["properties"] = std::move(properties);
  schema["required"] = std::move(required);
  schema["additionalProperties"] = false;
  return schema;
}

Json channelList(const char* description) {
  return list(object({{"name", text("channel name")}, {"watts", number("power, W")}}), description);
}

Json snapshotSchema() {
  return object({
      {"timestamp", text("when the sample began, ISO 8601 UTC")},
      {"duration", number("sampling interval, s")},
      {"cpuPower", number("CPU power, W")},
      {"gpuPower", number("GPU power, W")},
      {"anePower", number("neural engine power, W")},
      {"dramPower", number("memory power, W")},
      {"totalPower", number("whole-chip power, W")},
      {"eCpuPower", number("efficiency CPU cluster power, W")},
      {"pCpuPower", number("performance CPU cluster power, W")},
      {"cpuTemp", number("CPU temperature, \u00B0C; absent when not measured"), true},
      {"gpuTemp", number("GPU temperature, \u00B0C; absent when not measured"), true},
      {"coreTemps", list(number("\u00B0C"), "per-core temperatures, \u00B0C")},
      {"cpuUsage", number("CPU busy fraction, 0 to 1")},
      {"gpuUsage", number("GPU busy fraction, 0 to 1")},
      {"eCpuUsage", number("efficiency CPU busy fraction, 0 to 1")},
      {"pCpuUsage", number("performance CPU busy fraction, 0 to 1")},
      {"cpuUsagePerCore", list(number("0 to 1"), "busy fraction per logical CPU, 0 to 1")},
      {"gpuFreqMHz", number("mean GPU frequency, MHz")},
      {"memBandwidth", object({{"cpuReadGBs", number("GB/s (2^30 bytes)")},
                               {"cpuWriteGBs", number("GB/s (2^30 bytes)")},
                               {"gpuReadGBs", number("GB/s (2^30 bytes)")},
                               {"gpuWriteGBs", number("GB/s (2^30 bytes)")},
                               {"mediaReadGBs", number("GB/s (2^30 bytes)")},
                               {"mediaWriteGBs", number("GB/s (2^30 bytes)")},
                               {"totalReadGBs", number("GB/s (2^30 bytes)")},
                               {"totalWriteGBs", number("GB/s (2^30 bytes)")}},
                              "memory bandwidth, GB/s; zeros when not measured")},
      {"fans", list(object({{"id", integer("fan number")}, {"rpm", number("speed, rpm")}}), "fan speeds, rpm")},
      {"energyBreakdown", object({{"cpuCores", channelList("per-core CPU channels, W")},
                                  {"cpuClusters", channelList("per-cluster CPU channels, W")},
                                  {"cpuTotal", number("whole CPU, W")},
                                  {"gpu", number("GPU, W")},
                                  {"gpuEnergy", number("GPU energy channel, W")},
                                  {"ane", number("neural engine, W")},
                                  {"dram", number("memory, W")},
                                  {"amcc", number("memory controller, W")},
                                  {"dcs", number("memory interface, W")},
                                  {"display", number("built-in display pipeline, W")},
                                  {"displayExt", number("external display pipeline, W")},
                                  {"fabric", number("fabric, W")},
                                  {"isp", number("image signal processor, W")},
                                  {"media", number("media engines, W")},
                                  {"dtlChannels", channelList("DTL channels, W")},
                                  {"other", channelList("channels of no other domain, W")},
                                  {"domains",
                                   channelList("the machine's own energy domains by its names (\"Package\", "
                                               "\"Cores\", \"Graphics\", \"DRAM\", \"Platform\"), W; they "
                                               "overlap, so they are never added; absent where it has none"),
                                   true}},
                                 "power per domain over the same interval, W")},
      {"platformPower",
       number("whole-platform power, W, the closest figure to the power drawn from the wall; it holds the "
              "others, so it is never added to them; absent when not measured"),
       true},
  });
}

Json startedSchema() {
  return object({{"status", text("\"started\"")}, {"window", text("the window's name")}});
}

Json energySchema() {
  return object({
      {"duration", number("time the window was open, s")},
      {"cpuEnergy", number("CPU energy, J")},
      {"gpuEnergy", number("GPU energy, J")},
      {"aneEnergy", number("neural engine energy, J")},
      {"dramEnergy", number("memory energy, J")},
      {"totalEnergy", number("whole-chip energy, J")},
  });
}

Json throttleSchema() {
  return object({
      {"throttling", boolean("whether the machine is throttling")},
      {"cpuTemp", number("CPU temperature, \u00B0C; 0 when not measured")},
      {"gpuTemp", number("GPU temperature, \u00B0C; 0 when not measured")},
      {"gpuFreqMHz", number("mean GPU frequency, MHz")},
      {"gpuUsage", number("GPU busy fraction, 0 to 1")},
      {"reason", text("\"thermal\" or \"freq_drop\"; absent when not throttling"), true},
  });
}

Json headroomSchema() {
  return object({
      {"gpuPowerW", number("GPU power, W")},
      {"estimatedTDPW", number("assumed GPU power budget, W (an estimate)")},
      {"usedPercent", number("share of the budget in use, % (0 to 100)")},
      {"thermalOk", boolean("hotter of CPU and GPU below 90 \u00B0C")},
      {"canAddWork", boolean("below 80 % of the budget and thermally ok")},
  });
}

Json cooldownSchema() {
  return object({
      {"cooledDown", boolean("whether the target was reached")},
      {"finalTemp", number("hotter of CPU and GPU at the end, \u00B0C")},
      {"waitedSeconds", number("time waited, s")},
  });
}

Json systemInfoSchema() {
  return object({
      {"chipName", text("processor name")},
      {"eCores", integer("efficiency cores")},
      {"pCores", integer("performance cores")},
      {"gpuCores", integer("GPU cores")},
      {"totalMemoryGB", number("memory, GB (2^30 bytes)")},
      {"machineName", text("machine model; ends in \"(simulated)\" on a simulated machine")},
      {"osVersion", text("operating system and version")},
      {"measured", list(text("a power_snapshot member"),
                        "the power_snapshot figures this machine measures; any other reads 0 or stays empty "
                        "because it is not measured")},
  });
}

Json topProcessesSchema() {
  return object({
      {"duration", number("sampling interval, s")},
      {"method", text("\"cpuTimeShare\" (estimated from each process's share of CPU time) or \"osEnergy\" "
                      "(the energy the system keeps per process)")},
      {"cpuPowerW", number("measured CPU power shared out, W")},
      {"processes", list(object({{"pid", integer("process id")},
                                 {"name", text("the executable's short name")},
                                 {"cpuPercent", number("CPU time over the interval, % of one CPU")},
                                 {"powerW", number("its part of the CPU power, W")},
                                 {"energyJ", number("its energy over the interval, J")}}),
                         "the processes using the most, by powerW from the largest")},
      {"otherPowerW",
       number("everything not listed (further, exited and unreadable processes, time of no process), W")},
  });
}

// --- Tools -------------------------------------------------------------------

// The argument `name` as a `T`, or `fallback` when left out or null.
template <class T>
T argument(const Json& arguments, const char* name, T fallback) {
  const auto it = arguments.find(name);
  return it == arguments.end() || it->is_null() ? fallback : it->template get<T>();
}

std::string windowName(const Json& arguments) { return argument(arguments, "name", std::string("default")); }

ToolResult snapshot(const ToolCall& call) {
  return recordResult(call.service.snapshot(kSnapshotInterval, call.stop));
}

ToolResult beginWindow(const ToolCall& call) {
  const std::string name = windowName(call.arguments);
  if (const auto refusal = call.service.beginWindow(name)) {
    switch (*refusal) {
      case PowerMetrics::WindowRefusal::tooManyWindows:
        return {errorText("too many open windows: at most " + std::to_string(PowerMetrics::kMaxWindows)), true, nullptr};
      case PowerMetrics::WindowRefusal::nameTooLong:
        return {errorText("window name too long: at most " + std::to_string(PowerMetrics::kMaxWindowNameBytes) +
                          " bytes"),
                true, nullptr};
    }
    return {errorText("window refused"), true, nullptr};
  }
  Json started = Json::object();
  started["status"] = "started";
  started["window"] = name;
  return {started.dump(), false, std::move(started)};
}

ToolResult endWindow(const ToolCall& call) {
  const std::string name = windowName(call.arguments);
  const std::optional<EnergyMetrics> energy = call.service.endWindow(name);
  if (!energy) return {errorText("no window named '" + name + "'"), true, nullptr};
  return recordResult(*energy);
}

ToolResult isThrottling(const ToolCall& call) { return recordResult(call.service.isThrottling(call.stop)); }

ToolResult headroom(const ToolCall& call) { return recordResult(call.service.headroom(call.stop)); }

ToolResult cooldown(const ToolCall& call) {
  const double target = argument(call.arguments, "target_temp", kDefaultTargetTemp);
  return recordResult(call.service.waitForCooldown(target, kCooldownTimeout, call.progress, call.stop));
}

// The record, then the figures the machine really measures, so that a caller
// can tell a figure that is not measured from an idle one.
ToolResult systemInfo(const ToolCall& call) {
  ToolResult result = recordResult(call.service.info());
  if (result.isError) return result;
  result.structured["measured"] = call.service.metrics().description().measured.names();
  result.text = result.structured.dump();
  return result;
}

// One second like "power_snapshot", the process table read just before and
// just after it.
ToolResult topProcesses(const ToolCall& call) {
  const auto limit = static_cast<std::size_t>(argument(call.arguments, "limit", kDefaultProcessLimit));
  ProcessPort* port = call.service.metrics().platform().processes.get();
  const std::optional<ProcessTable> before = port != nullptr ? port->processes() : std::nullopt;
  const PowerSnapshot snapshot = call.service.snapshot(kSnapshotInterval, call.stop);
  const std::optional<ProcessTable> after = before ? port->processes() : std::nullopt;
  if (!before || !after) return {errorText("the processes of this machine cannot be listed"), true, nullptr};
  ProcessAttribution attribution = attributeProcesses(*before, *after, snapshot.duration(), snapshot.cpuPower());
  attribution.keepFirst(limit);
  try {
    Json object = topProcessesJson(attribution);
    std::string text = object.dump();
    return {std::move(text), false, std::move(object)};
  } catch (const std::exception&) {
    return {errorText("the reading holds a number that JSON cannot carry"), true, nullptr};
  }
}

Json processLimit() {
  Json property = integer("How many processes to list, 1 to 50 (default 10)");
  property["minimum"] = 1;
  property["maximum"] = kMaxProcessLimit;
  return property;
}

Json targetTemp() {
  Json property = number("Target temp in \u00B0C (default 80)");
  property["minimum"] = kLowestTargetTemp;
  property["maximum"] = kHighestTargetTemp;
  return property;
}

std::vector<Tool> makeCatalogue() {
  const Json none = Json::object();
  const Json window = Json{{"name", text("Window name")}};
  return {
      {"power_snapshot", "Power snapshot", "Take a power/thermal/utilization reading (1s sample)", true, true, none,
       snapshotSchema(), snapshot},
      {"power_begin_window", "Begin energy window", "Start measuring energy for a named task", false, false, window,
       startedSchema(), beginWindow},
      {"power_end_window", "End energy window", "End measurement, return energy in Joules", false, false, window,
       energySchema(), endWindow},
      {"power_is_throttling", "Thermal throttling check", "Check if system is thermally throttling", true, true, none,
       throttleSchema(), isThrottling},
      {"power_headroom", "GPU power headroom", "Check GPU power headroom and thermal status", true, true, none,
       headroomSchema(), headroom},
      {"power_cooldown", "Wait for cooldown", "Wait for temperature to drop below threshold", true, true,
       Json{{"target_temp", targetTemp()}}, cooldownSchema(), cooldown},
      {"power_system_info", "System information", "Get chip model, core counts, memory", true, true, none,
       systemInfoSchema(), systemInfo},
      {"power_top_processes", "Processes by power",
       "Which processes use the CPU's power (1s sample): estimated from CPU time, or the system's own "
       "per-process energy where it keeps one",
       true, true, Json{{"limit", processLimit()}}, topProcessesSchema(), topProcesses},
  };
}

// What an argument of `property` must be, for the model to read.
std::string expected(const Json& property) {
  const std::string type = property.value("type", std::string());
  std::string what = type == "integer" ? "an integer" : "a " + type;
  if (property.contains("minimum") && property.contains("maximum")) {
    what += " from " + property["minimum"].dump() + " to " + property["maximum"].dump();
  }
  return what;
}

// `value` as compact ASCII text, cut short when long.
std::string shown(const Json& value) {
  constexpr std::size_t kLongest = 40;
  std::string text = value.dump(-1, ' ', true, Json::error_handler_t::replace);
  if (text.size() > kLongest) text = text.substr(0, kLongest) + "...";
  return text;
}

// Whether `value` is of the property's JSON Schema type and within its range.
bool fits(const Json& value, const Json& property) {
  const std::string type = property.value("type", std::string());
  if (type == "string") return value.is_string();
  if (type == "boolean") return value.is_boolean();
  if (!value.is_number()) return false;
  const double number = value.get<double>();
  if (!std::isfinite(number)) return false;
  if (type == "integer" && number != std::trunc(number)) return false;
  if (const auto low = property.find("minimum"); low != property.end() && number < low->get<double>()) return false;
  if (const auto high = property.find("maximum"); high != property.end() && number > high->get<double>()) return false;
  return type == "number" || type == "integer";
}

}  // namespace

const std::vector<Tool>& toolCatalogue() {
  static const std::vector<Tool> catalogue = makeCatalogue();
  return catalogue;
}

const Tool* findTool(std::string_view name) {
  for (const Tool& tool : toolCatalogue()) {
    if (name == tool.name) return &tool;
  }
  return nullptr;
}

std::optional<std::string> argumentError(const Tool& tool, const Json& arguments) {
  for (const auto& [name, property] : tool.inputProperties.items()) {
    const auto value = arguments.find(name);
    if (value == arguments.end() || value->is_null() || fits(*value, property)) continue;
    return errorText("argument '" + name + "' must be " + expected(property) + ", not " + shown(*value));
  }
  return std::nullopt;
}

std::string errorText(const std::string& message) {
  Json error = Json::object();
  error["error"] = message;
  try {
    return error.dump();
  } catch (const Json::exception&) {
    // Not UTF-8 (a name as the host sent it): its bytes are replaced.
    return error.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
}

Json inputSchema(const Tool& tool) {
  Json schema = Json::object();
  schema["type"] = "object";
  schema["properties"] = tool.inputProperties;
  return schema;
}

}  // namespace calorim::probe
