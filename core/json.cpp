#include "core/json.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace calorim {

namespace {

using std::chrono::system_clock;

// --- Reading -----------------------------------------------------------------
// nlohmann's own conversions are too lenient for records read from outside
// (get<std::int64_t>() truncates 1.5, get<std::vector<double>>() would take any
// array), so every value is checked against the JSON type its field expects
// before it is taken.

[[noreturn]] void wrongValue(const char* key, const char* expected) {
  throw Json::type_error::create(302, std::string(key) + " must be " + expected, nullptr);
}

// `value` as a finite real; JSON integers are accepted, booleans are not.
double realValue(const Json& value, const char* key) {
  if (!value.is_number()) wrongValue(key, "a number");
  const double real = value.get<double>();
  if (!std::isfinite(real)) wrongValue(key, "a finite number");
  return real;
}

double readReal(const Json& object, const char* key) { return realValue(object.at(key), key); }

// Missing or null both mean absent.
std::optional<double> readOptionalReal(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return realValue(*it, key);
}

// A JSON integer that fits a signed 64-bit integer; 2.0 is not an integer here.
std::int64_t readInteger(const Json& object, const char* key) {
  const Json& value = object.at(key);
  if (!value.is_number_integer()) wrongValue(key, "an integer");
  if (value.is_number_unsigned() &&
      value.get<std::uint64_t>() >
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    wrongValue(key, "an integer within 64-bit range");
  }
  return value.get<std::int64_t>();
}

std::string readText(const Json& object, const char* key) {
  const Json& value = object.at(key);
  if (!value.is_string()) wrongValue(key, "a string");
  return value.get<std::string>();
}

bool readBool(const Json& object, const char* key) {
  const Json& value = object.at(key);
  if (!value.is_boolean()) wrongValue(key, "a boolean");
  return value.get<bool>();
}

// Missing or null both mean absent.
std::optional<std::string> readOptionalText(const Json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  if (!it->is_string()) wrongValue(key, "a string");
  return it->get<std::string>();
}

const Json& readArray(const Json& object, const char* key) {
  const Json& value = object.at(key);
  if (!value.is_array()) wrongValue(key, "an array");
  return value;
}

std::vector<double> readRealList(const Json& object, const char* key) {
  const Json& array = readArray(object, key);
  std::vector<double> list;
  list.reserve(array.size());
  for (const Json& element : array) list.push_back(realValue(element, key));
  return list;
}

// Elements go through their own adl_serializer, so they are read just as strictly.
template <class Record>
std::vector<Record> readRecordList(const Json& object, const char* key) {
  const Json& array = readArray(object, key);
  std::vector<Record> list;
  list.reserve(array.size());
  for (const Json& element : array) list.push_back(element.get<Record>());
  return list;
}

system_clock::time_point readTimestamp(const Json& object, const char* key) {
  const Json& value = object.at(key);
  if (!value.is_string()) wrongValue(key, "an ISO 8601 date string");
  const auto time = parseIsoDate(value.get_ref<const std::string&>());
  if (!time) wrongValue(key, "an ISO 8601 date string");
  return *time;
}

// Records are JSON objects; anything else fails before the first key is looked up.
void requireObject(const Json& value, const char* record) {
  if (!value.is_object()) wrongValue(record, "a JSON object");
}

// --- Writing -----------------------------------------------------------------
// A write that throws part-way must leave its target untouched: nlohmann calls
// to_json from inside a basic_json constructor, and an object already built
// there when the exception leaves would never be destroyed. So every writer
// builds a local value and moves it into place only once it is complete.

Json realList(const std::vector<double>& values, const char* key) {
  Json array = Json::array();
  for (double value : values) array.push_back(finiteOrThrow(value, key));
  return array;
}

template <class Record>
Json recordList(const std::vector<Record>& records) {
  Json array = Json::array();
  for (const Record& record : records) array.push_back(Json(record));
  return array;
}

// --- Dates -------------------------------------------------------------------

// Reads `count` decimal digits at `pos`; std::nullopt unless all are '0'..'9'.
std::optional<int> digitsAt(std::string_view text, std::size_t pos, std::size_t count) {
  int value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The offset of the first byte that opens an array or object deeper than
// `limit`, or std::nullopt when there is none. Brackets inside strings do not
// count. Text that is not JSON may pass; the parser refuses it afterwards.
std::optional<std::size_t> tooDeepAt(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return i;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return std::nullopt;
}

}  // namespace

Json parseJson(std::string_view text) {
  // nlohmann's reader takes a NUL byte for the end of input and would accept
  // whatever follows it; a raw NUL is never valid JSON anywhere.
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    throw Json::parse_error::create(101, nul + 1, "NUL byte in JSON text", nullptr);
  }
  if (const auto deep = tooDeepAt(text, kMaxJsonDepth)) {
    throw Json::parse_error::create(
        101, *deep + 1, "JSON nested deeper than " + std::to_string(kMaxJsonDepth) + " levels", nullptr);
  }
  return Json::parse(text);
}

std::optional<Json> readJson(std::string_view text) noexcept {
  try {
    return parseJson(text);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

double finiteOrThrow(double value, const char* key) {
  if (!std::isfinite(value)) {
    throw std::domain_error(std::string("non-finite number cannot be written as JSON: ") + key);
  }
  return value;
}

std::string formatIsoDate(system_clock::time_point time) {
  using namespace std::chrono;
  const auto secs = floor<seconds>(time);
  const auto day = floor<days>(secs);
  const year_month_day date{day};
  const hh_mm_ss clock{secs - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

std::optional<system_clock::time_point> parseIsoDate(std::string_view text) {
  using namespace std::chrono;
  // "YYYY-MM-DDTHH:MM:SS" then "Z" (20 characters) or "+hh:mm" (25).
  constexpr std::size_t kBaseLength = 19;
  if (text.size() != kBaseLength + 1 && text.size() != kBaseLength + 6) return std::nullopt;
  if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  const auto yearNumber = digitsAt(text, 0, 4);
  const auto monthNumber = digitsAt(text, 5, 2);
  const auto dayNumber = digitsAt(text, 8, 2);
  const auto hour = digitsAt(text, 11, 2);
  const auto minute = digitsAt(text, 14, 2);
  const auto second = digitsAt(text, 17, 2);
  if (!yearNumber || !monthNumber || !dayNumber || !hour || !minute || !second) {
    return std::nullopt;
  }
  const year_month_day date{year{*yearNumber}, month{static_cast<unsigned>(*monthNumber)},
                            day{static_cast<unsigned>(*dayNumber)}};
  if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;

  std::int64_t offsetSeconds = 0;
  if (text.size() == kBaseLength + 1) {
    if (text[kBaseLength] != 'Z') return std::nullopt;
  } else {
    const char sign = text[kBaseLength];
    if ((sign != '+' && sign != '-') || text[kBaseLength + 3] != ':') return std::nullopt;
    const auto offsetHours = digitsAt(text, kBaseLength + 1, 2);
    const auto offsetMinutes = digitsAt(text, kBaseLength + 4, 2);
    if (!offsetHours || !offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) {
      return std::nullopt;
    }
    offsetSeconds = (sign == '+' ? 1 : -1) * (*offsetHours * 3600 + *offsetMinutes * 60);
  }

  // Local time minus its offset is UTC. Years 0000..9999 fit easily in 64-bit
  // seconds, but not all of them in the clock's own (nanosecond) ticks.
  const std::int64_t epochSeconds = std::int64_t{sys_days{date}.time_since_epoch().count()} * 86400 +
                                    *hour * 3600 + *minute * 60 + *second - offsetSeconds;
  const auto maxSeconds = duration_cast<seconds>(system_clock::duration::max()).count();
  const auto minSeconds = duration_cast<seconds>(system_clock::duration::min()).count();
  if (epochSeconds > maxSeconds || epochSeconds < minSeconds) return std::nullopt;
  return system_clock::time_point{duration_cast<system_clock::duration>(seconds{epochSeconds})};
}

Json topProcessesJson(const ProcessAttribution& attribution) {
  Json processes = Json::array();
  for (const ProcessPower& p : attribution.processes) {
    Json entry = Json::object();
    entry["pid"] = p.pid;
    entry["name"] = p.name;
    entry["cpuPercent"] = finiteOrThrow(p.cpuPercent, "cpuPercent");
    entry["powerW"] = finiteOrThrow(p.powerW, "powerW");
    entry["energyJ"] = finiteOrThrow(p.energyJ, "energyJ");
    processes.push_back(std::move(entry));
  }
  Json j = Json::object();
  j["duration"] = finiteOrThrow(attribution.seconds, "duration");
  j["method"] = methodName(attribution.method);
  j["cpuPowerW"] = finiteOrThrow(attribution.cpuPowerW, "cpuPowerW");
  j["processes"] = std::move(processes);
  j["otherPowerW"] = finiteOrThrow(attribution.otherPowerW, "otherPowerW");
  return j;
}

}  // namespace calorim

NLOHMANN_JSON_NAMESPACE_BEGIN

using calorim::finiteOrThrow;
using calorim::Json;

// --- MemoryBandwidth ---

void adl_serializer<calorim::MemoryBandwidth>::to_json(Json& j,
                                                        const calorim::MemoryBandwidth& value) {
  Json out = Json::object();
  out["cpuReadGBs"] = finiteOrThrow(value.cpuReadGBs(), "cpuReadGBs");
  out["cpuWriteGBs"] = finiteOrThrow(value.cpuWriteGBs(), "cpuWriteGBs");
  out["gpuReadGBs"] = finiteOrThrow(value.gpuReadGBs(), "gpuReadGBs");
  out["gpuWriteGBs"] = finiteOrThrow(value.gpuWriteGBs(), "gpuWriteGBs");
  out["mediaReadGBs"] = finiteOrThrow(value.mediaReadGBs(), "mediaReadGBs");
  out["mediaWriteGBs"] = finiteOrThrow(value.mediaWriteGBs(), "mediaWriteGBs");
  out["totalReadGBs"] = finiteOrThrow(value.totalReadGBs(), "totalReadGBs");
  out["totalWriteGBs"] = finiteOrThrow(value.totalWriteGBs(), "totalWriteGBs");
  j = std::move(out);
}

calorim::MemoryBandwidth adl_serializer<calorim::MemoryBandwidth>::from_json(const Json& j) {
  calorim::requireObject(j, "memBandwidth");
  return {calorim::readReal(j, "cpuReadGBs"),   calorim::readReal(j, "cpuWriteGBs"),
          calorim::readReal(j, "gpuReadGBs"),   calorim::readReal(j, "gpuWriteGBs"),
          calorim::readReal(j, "mediaReadGBs"), calorim::readReal(j, "mediaWriteGBs"),
          calorim::readReal(j, "totalReadGBs"), calorim::readReal(j, "totalWriteGBs")};
}

// --- FanInfo ---

void adl_serializer<calorim::FanInfo>::to_json(Json& j, const calorim::FanInfo& value) {
  Json out = Json::object();
  out["id"] = value.id();
  out["rpm"] = finiteOrThrow(value.rpm(), "rpm");
  j = std::move(out);
}

calorim::FanInfo adl_serializer<calorim::FanInfo>::from_json(const Json& j) {
  calorim::requireObject(j, "fan");
  return {calorim::readInteger(j, "id"), calorim::readReal(j, "rpm")};
}

// --- ChannelPower ---

void adl_serializer<calorim::ChannelPower>::to_json(Json& j, const calorim::ChannelPower& value) {
  Json out = Json::object();
  out["name"] = value.name();
  out["watts"] = finiteOrThrow(value.watts(), "watts");
  j = std::move(out);
}

calorim::ChannelPower adl_serializer<calorim::ChannelPower>::from_json(const Json& j) {
  calorim::requireObject(j, "channel");
  return {calorim::readText(j, "name"), calorim::readReal(j, "watts")};
}

// --- EnergyBreakdown ---

void adl_serializer<calorim::EnergyBreakdown>::to_json(Json& j,
                                                        const calorim::EnergyBreakdown& value) {
  Json out = Json::object();
  out["cpuCores"] = calorim::recordList(value.cpuCores());
  out["cpuClusters"] = calorim::recordList(value.cpuClusters());
  out["cpuTotal"] = finiteOrThrow(value.cpuTotal(), "cpuTotal");
  out["gpu"] = finiteOrThrow(value.gpu(), "gpu");
  out["gpuEnergy"] = finiteOrThrow(value.gpuEnergy(), "gpuEnergy");
  out["ane"] = finiteOrThrow(value.ane(), "ane");
  out["dram"] = finiteOrThrow(value.dram(), "dram");
  out["amcc"] = finiteOrThrow(value.amcc(), "amcc");
  out["dcs"] = finiteOrThrow(value.dcs(), "dcs");
  out["display"] = finiteOrThrow(value.display(), "display");
  out["displayExt"] = finiteOrThrow(value.displayExt(), "displayExt");
  out["fabric"] = finiteOrThrow(value.fabric(), "fabric");
  out["isp"] = finiteOrThrow(value.isp(), "isp");
  out["media"] = finiteOrThrow(value.media(), "media");
  out["dtlChannels"] = calorim::recordList(value.dtlChannels());
  out["other"] = calorim::recordList(value.other());
  if (!value.domains().empty()) out["domains"] = calorim::recordList(value.domains());
  j = std::move(out);
}

calorim::EnergyBreakdown adl_serializer<calorim::EnergyBreakdown>::from_json(const Json& j) {
  using calorim::ChannelPower;
  using calorim::readReal;
  using calorim::readRecordList;
  calorim::requireObject(j, "energyBreakdown");
  return {readRecordList<ChannelPower>(j, "cpuCores"),
          readRecordList<ChannelPower>(j, "cpuClusters"),
          readReal(j, "cpuTotal"),
          readReal(j, "gpu"),
          readReal(j, "gpuEnergy"),
          readReal(j, "ane"),
          readReal(j, "dram"),
          readReal(j, "amcc"),
          readReal(j, "dcs"),
          readReal(j, "display"),
          readReal(j, "displayExt"),
          readReal(j, "fabric"),
          readReal(j, "isp"),
          readReal(j, "media"),
          readRecordList<ChannelPower>(j, "dtlChannels"),
          readRecordList<ChannelPower>(j, "other"),
          j.contains("domains") ? readRecordList<ChannelPower>(j, "domains") : std::vector<ChannelPower>{}};
}

// --- PowerSnapshot ---

void adl_serializer<calorim::PowerSnapshot>::to_json(Json& j, const calorim::PowerSnapshot& value) {
  Json out = Json::object();
  out["timestamp"] = calorim::formatIsoDate(value.timestamp());
  out["duration"] = finiteOrThrow(value.duration(), "duration");
  out["cpuPower"] = finiteOrThrow(value.cpuPower(), "cpuPower");
  out["gpuPower"] = finiteOrThrow(value.gpuPower(), "gpuPower");
  out["anePower"] = finiteOrThrow(value.anePower(), "anePower");
  out["dramPower"] = finiteOrThrow(value.dramPower(), "dramPower");
  out["totalPower"] = finiteOrThrow(value.totalPower(), "totalPower");
  out["eCpuPower"] = finiteOrThrow(value.eCpuPower(), "eCpuPower");
  out["pCpuPower"] = finiteOrThrow(value.pCpuPower(), "pCpuPower");
  if (value.cpuTemp()) out["cpuTemp"] = finiteOrThrow(*value.cpuTemp(), "cpuTemp");
  if (value.gpuTemp()) out["gpuTemp"] = finiteOrThrow(*value.gpuTemp(), "gpuTemp");
  out["coreTemps"] = calorim::realList(value.coreTemps(), "coreTemps");
  out["cpuUsage"] = finiteOrThrow(value.cpuUsage(), "cpuUsage");
  out["gpuUsage"] = finiteOrThrow(value.gpuUsage(), "gpuUsage");
  out["eCpuUsage"] = finiteOrThrow(value.eCpuUsage(), "eCpuUsage");
  out["pCpuUsage"] = finiteOrThrow(value.pCpuUsage(), "pCpuUsage");
  out["cpuUsagePerCore"] = calorim::realList(value.cpuUsagePerCore(), "cpuUsagePerCore");
  out["gpuFreqMHz"] = finiteOrThrow(value.gpuFreqMHz(), "gpuFreqMHz");
  out["memBandwidth"] = value.memBandwidth();
  out["fans"] = calorim::recordList(value.fans());
  out["energyBreakdown"] = value.energyBreakdown();
  if (value.platformPower()) out["platformPower"] = finiteOrThrow(*value.platformPower(), "platformPower");
  j = std::move(out);
}

calorim::PowerSnapshot adl_serializer<calorim::PowerSnapshot>::from_json(const Json& j) {
  using calorim::readReal;
  calorim::requireObject(j, "snapshot");
  return {calorim::readTimestamp(j, "timestamp"),
          readReal(j, "duration"),
          readReal(j, "cpuPower"),
          readReal(j, "gpuPower"),
          readReal(j, "anePower"),
          readReal(j, "dramPower"),
          readReal(j, "totalPower"),
          readReal(j, "eCpuPower"),
          readReal(j, "pCpuPower"),
          calorim::readOptionalReal(j, "cpuTemp"),
          calorim::readOptionalReal(j, "gpuTemp"),
          calorim::readRealList(j, "coreTemps"),
          readReal(j, "cpuUsage"),
          readReal(j, "gpuUsage"),
          readReal(j, "eCpuUsage"),
          readReal(j, "pCpuUsage"),
          calorim::readRealList(j, "cpuUsagePerCore"),
          readReal(j, "gpuFreqMHz"),
          j.at("memBandwidth").get<calorim::MemoryBandwidth>(),
          calorim::readRecordList<calorim::FanInfo>(j, "fans"),
          j.at("energyBreakdown").get<calorim::EnergyBreakdown>(),
          calorim::readOptionalReal(j, "platformPower")};
}

// --- EnergyMetrics ---

void adl_serializer<calorim::EnergyMetrics>::to_json(Json& j, const calorim::EnergyMetrics& value) {
  Json out = Json::object();
  out["duration"] = finiteOrThrow(value.duration(), "duration");
  out["cpuEnergy"] = finiteOrThrow(value.cpuEnergy(), "cpuEnergy");
  out["gpuEnergy"] = finiteOrThrow(value.gpuEnergy(), "gpuEnergy");
  out["aneEnergy"] = finiteOrThrow(value.aneEnergy(), "aneEnergy");
  out["dramEnergy"] = finiteOrThrow(value.dramEnergy(), "dramEnergy");
  out["totalEnergy"] = finiteOrThrow(value.totalEnergy(), "totalEnergy");
  j = std::move(out);
}

calorim::EnergyMetrics adl_serializer<calorim::EnergyMetrics>::from_json(const Json& j) {
  using calorim::readReal;
  calorim::requireObject(j, "energyMetrics");
  return {readReal(j, "duration"),   readReal(j, "cpuEnergy"),  readReal(j, "gpuEnergy"),
          readReal(j, "aneEnergy"),  readReal(j, "dramEnergy"), readReal(j, "totalEnergy")};
}

// --- SystemInfo ---

void adl_serializer<calorim::SystemInfo>::to_json(Json& j, const calorim::SystemInfo& value) {
  Json out = Json::object();
  out["chipName"] = value.chipName();
  out["eCores"] = value.eCores();
  out["pCores"] = value.pCores();
  out["gpuCores"] = value.gpuCores();
  out["totalMemoryGB"] = finiteOrThrow(value.totalMemoryGB(), "totalMemoryGB");
  out["machineName"] = value.machineName();
  out["osVersion"] = value.osVersion();
  j = std::move(out);
}

calorim::SystemInfo adl_serializer<calorim::SystemInfo>::from_json(const Json& j) {
  using calorim::readInteger;
  using calorim::readText;
  calorim::requireObject(j, "systemInfo");
  return {readText(j, "chipName"),      readInteger(j, "eCores"),       readInteger(j, "pCores"),
          readInteger(j, "gpuCores"),   calorim::readReal(j, "totalMemoryGB"), readText(j, "machineName"),
          readText(j, "osVersion")};
}

// --- ThrottleStatus ---

void adl_serializer<calorim::ThrottleStatus>::to_json(Json& j, const calorim::ThrottleStatus& value) {
  Json out = Json::object();
  out["throttling"] = value.throttling();
  out["cpuTemp"] = finiteOrThrow(value.cpuTemp(), "cpuTemp");
  out["gpuTemp"] = finiteOrThrow(value.gpuTemp(), "gpuTemp");
  out["gpuFreqMHz"] = finiteOrThrow(value.gpuFreqMHz(), "gpuFreqMHz");
  out["gpuUsage"] = finiteOrThrow(value.gpuUsage(), "gpuUsage");
  if (value.reason()) out["reason"] = *value.reason();
  j = std::move(out);
}

calorim::ThrottleStatus adl_serializer<calorim::ThrottleStatus>::from_json(const Json& j) {
  using calorim::readReal;
  calorim::requireObject(j, "throttleStatus");
  return {calorim::readBool(j, "throttling"), readReal(j, "cpuTemp"),  readReal(j, "gpuTemp"),
          readReal(j, "gpuFreqMHz"),          readReal(j, "gpuUsage"), calorim::readOptionalText(j, "reason")};
}

// --- HeadroomStatus ---

void adl_serializer<calorim::HeadroomStatus>::to_json(Json& j, const calorim::HeadroomStatus& value) {
  Json out = Json::object();
  out["gpuPowerW"] = finiteOrThrow(value.gpuPowerW(), "gpuPowerW");
  out["estimatedTDPW"] = finiteOrThrow(value.estimatedTDPW(), "estimatedTDPW");
  out["usedPercent"] = finiteOrThrow(value.usedPercent(), "usedPercent");
  out["thermalOk"] = value.thermalOk();
  out["canAddWork"] = value.canAddWork();
  j = std::move(out);
}

calorim::HeadroomStatus adl_serializer<calorim::HeadroomStatus>::from_json(const Json& j) {
  using calorim::readReal;
  calorim::requireObject(j, "headroomStatus");
  return {readReal(j, "gpuPowerW"), readReal(j, "estimatedTDPW"), readReal(j, "usedPercent"),
          calorim::readBool(j, "thermalOk"), calorim::readBool(j, "canAddWork")};
}

// --- CooldownResult ---

void adl_serializer<calorim::CooldownResult>::to_json(Json& j, const calorim::CooldownResult& value) {
  Json out = Json::object();
  out["cooledDown"] = value.cooledDown();
  out["finalTemp"] = finiteOrThrow(value.finalTemp(), "finalTemp");
  out["waitedSeconds"] = finiteOrThrow(value.waitedSeconds(), "waitedSeconds");
  j = std::move(out);
}

calorim::CooldownResult adl_serializer<calorim::CooldownResult>::from_json(const Json& j) {
  calorim::requireObject(j, "cooldownResult");
  return {calorim::readBool(j, "cooledDown"), calorim::readReal(j, "finalTemp"),
          calorim::readReal(j, "waitedSeconds")};
}

NLOHMANN_JSON_NAMESPACE_END
