#include "core/platform/simulated/machine_profile.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <set>
#include <stdexcept>
#include <string>

#include "core/base/little_endian.h"
#include "core/base/units.h"
#include "core/json.h"

namespace calorim::fake {
namespace {

// Registry values and reports nest; deeper input is refused rather than
// walked (or written back out) recursively.
constexpr int kMaxRegistryDepth = 32;
constexpr std::size_t kMaxReportDepth = 64;

// Generous bounds that keep every generated counter inside 64 bits for years.
constexpr double kMaxWatts = 10'000;
constexpr double kMaxShare = 1e6;
constexpr double kMaxBytes = 1e18;
constexpr double kMaxRegistryNumber = 1e15;

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw std::invalid_argument("machine profile: " + (path.empty() ? what : path + ": " + what));
}

std::string memberPath(const std::string& parent, std::string_view key) {
  return parent.empty() ? std::string(key) : parent + "." + std::string(key);
}

std::string indexPath(const std::string& parent, std::size_t index) {
  return parent + "[" + std::to_string(index) + "]";
}

// ---- typed access to JSON members ---------------------------------------------

void requireObject(const Json& j, const std::string& path) {
  if (!j.is_object()) fail(path, "expected an object");
}

void requireArray(const Json& j, const std::string& path) {
  if (!j.is_array()) fail(path, "expected an array");
}

void allowOnly(const Json& object, const std::string& path, std::initializer_list<std::string_view> known) {
  for (const auto& [key, value] : object.items()) {
    bool found = false;
    for (std::string_view k : known) found = found || key == k;
    if (!found) fail(memberPath(path, key), "unknown member");
  }
}

const Json* find(const Json& object, std::string_view key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const Json& require(const Json& object, const std::string& path, std::string_view key) {
  const Json* j = find(object, key);
  if (j == nullptr) fail(memberPath(path, key), "missing");
  return *j;
}

std::string asText(const Json& j, const std::string& path) {
  if (!j.is_string()) fail(path, "expected text");
  return j.get<std::string>();
}

double asNumber(const Json& j, const std::string& path) {
  if (!j.is_number()) fail(path, "expected a number");
  const double value = j.get<double>();
  if (!std::isfinite(value)) fail(path, "expected a finite number");
  return value;
}

std::int64_t asInteger(const Json& j, const std::string& path) {
  if (j.is_number_unsigned()) {
    if (j.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      fail(path, "integer out of range");
    }
    return static_cast<std::int64_t>(j.get<std::uint64_t>());
  }
  if (!j.is_number_integer()) fail(path, "expected an integer");
  return j.get<std::int64_t>();
}

std::optional<double> optionalNumber(const Json& object, const std::string& path, std::string_view key) {
  const Json* j = find(object, key);
  if (j == nullptr) return std::nullopt;
  return asNumber(*j, memberPath(path, key));
}

// ---- registry properties ------------------------------------------------------

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

RegistryBytes hexBytes(const Json& j, const std::string& path) {
  const std::string text = asText(j, path);
  if (text.size() % 2 != 0) fail(path, "expected an even number of hexadecimal digits");
  RegistryBytes bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = hexDigit(text[i]);
    const int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) fail(path, "expected hexadecimal digits");
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return bytes;
}

// A GPU frequency table as the I/O device publishes it: one 8-byte record per
// state, the frequency in Hz then a voltage in mV, both 32-bit little-endian.
RegistryBytes frequencyTable(const Json& j, const std::string& path) {
  requireArray(j, path);
  RegistryBytes bytes;
  std::uint32_t millivolts = 600;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const std::string at = indexPath(path, i);
    const double mhz = asNumber(j[i], at);
    if (!(mhz > 0 && mhz <= 4294)) fail(at, "expected MHz above 0 and at most 4294");
    const auto hertz = static_cast<std::uint32_t>(std::llround(mhz * kHzPerMHz));
    appendLE32(bytes, hertz);
    appendLE32(bytes, millivolts);
    millivolts += 25;
  }
  return bytes;
}

bool isEscape(const Json& object) {
  for (const auto& [key, value] : object.items()) {
    if (!key.empty() && key.front() == '$') return true;
  }
  return false;
}

class RegistryReader {
 public:
  explicit RegistryReader(std::vector<ProfileVaryingProperty>& varying) : varying_(varying) {}

  RegistryDictionary dictionary(const Json& j, const std::string& path, std::vector<std::string>& keys,
                                int depth) {
    RegistryDictionary dict;
    for (const auto& [key, value] : j.items()) {
      keys.push_back(key);
      dict.set(key, this->value(value, memberPath(path, key), &keys, depth + 1));
      keys.pop_back();
    }
    return dict;
  }

 private:
  // `keys` is the dictionary path to `j`; null inside an array, where nothing may vary.
  RegistryValue value(const Json& j, const std::string& path, std::vector<std::string>* keys, int depth) {
    if (depth > kMaxRegistryDepth) fail(path, "nested too deeply");
    switch (j.type()) {
      case Json::value_t::boolean:
        return j.get<bool>();
      case Json::value_t::number_integer:
      case Json::value_t::number_unsigned:
        return asInteger(j, path);
      case Json::value_t::number_float:
        return asNumber(j, path);
      case Json::value_t::string:
        return j.get<std::string>();
      case Json::value_t::array: {
        RegistryArray array;
        for (std::size_t i = 0; i < j.size(); ++i) array.push_back(value(j[i], indexPath(path, i), nullptr, depth + 1));
        return array;
      }
      case Json::value_t::object:
        if (isEscape(j)) return escape(j, path, keys);
        if (keys == nullptr) {
          RegistryDictionary dict;
          for (const auto& [key, member] : j.items()) dict.set(key, value(member, memberPath(path, key), nullptr, depth + 1));
          return dict;
        }
        return dictionary(j, path, *keys, depth);
      default:
        fail(path, "expected a boolean, number, text, array or object");
    }
  }

  RegistryValue escape(const Json& j, const std::string& path, const std::vector<std::string>* keys) {
    if (const Json* bytes = find(j, "$bytes")) {
      allowOnly(j, path, {"$bytes"});
      return hexBytes(*bytes, memberPath(path, "$bytes"));
    }
    if (const Json* table = find(j, "$dvfsMHz")) {
      allowOnly(j, path, {"$dvfsMHz"});
      return frequencyTable(*table, memberPath(path, "$dvfsMHz"));
    }
    if (const Json* base = find(j, "$vary")) {
      allowOnly(j, path, {"$vary", "$signal", "$variation"});
      if (keys == nullptr) fail(path, "a varying value cannot stand inside an array");
      ProfileVaryingProperty varying;
      varying.path = *keys;
      varying.base = asNumber(*base, memberPath(path, "$vary"));
      varying.integer = base->is_number_integer();
      varying.signal = path;
      if (const Json* signal = find(j, "$signal")) varying.signal = "signal:" + asText(*signal, memberPath(path, "$signal"));
      varying.variation = optionalNumber(j, path, "$variation");
      varying_.push_back(varying);
      if (varying.integer) return asInteger(*base, memberPath(path, "$vary"));
      return varying.base;
    }
    fail(path, "unknown escape: expected \"$bytes\", \"$dvfsMHz\" or \"$vary\"");
  }

  std::vector<ProfileVaryingProperty>& varying_;
};

// ---- sections -------------------------------------------------------------------

std::vector<ProfileCounter> readCounters(const Json& j, const std::string& path) {
  requireArray(j, path);
  std::vector<ProfileCounter> counters;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const std::string at = indexPath(path, i);
    const Json& c = j[i];
    requireObject(c, at);
    allowOnly(c, at, {"group", "subgroup", "name", "unit", "watts", "within", "residency", "variation"});
    ProfileCounter counter;
    counter.group = asText(require(c, at, "group"), memberPath(at, "group"));
    if (const Json* s = find(c, "subgroup")) counter.subgroup = asText(*s, memberPath(at, "subgroup"));
    counter.name = asText(require(c, at, "name"), memberPath(at, "name"));
    counter.variation = optionalNumber(c, at, "variation");
    const Json* watts = find(c, "watts");
    const Json* residency = find(c, "residency");
    if ((watts == nullptr) == (residency == nullptr)) fail(at, "expected exactly one of \"watts\" and \"residency\"");
    if (watts != nullptr) {
      counter.watts = asNumber(*watts, memberPath(at, "watts"));
      counter.unitLabel = "mJ";
      if (const Json* unit = find(c, "unit")) counter.unitLabel = asText(*unit, memberPath(at, "unit"));
      if (const Json* within = find(c, "within")) counter.within = asText(*within, memberPath(at, "within"));
    } else {
      if (find(c, "unit") != nullptr) fail(memberPath(at, "unit"), "only energy channels have a unit");
      if (find(c, "within") != nullptr) fail(memberPath(at, "within"), "only energy channels lie within another");
      const std::string rpath = memberPath(at, "residency");
      requireObject(*residency, rpath);
      for (const auto& [state, share] : residency->items()) {
        counter.residency.emplace_back(state, asNumber(share, memberPath(rpath, state)));
      }
    }
    counters.push_back(std::move(counter));
  }
  return counters;
}

std::vector<ProfileCpu> readCpus(const Json& j, const std::string& path) {
  requireArray(j, path);
  std::vector<ProfileCpu> cpus;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const std::string at = indexPath(path, i);
    requireObject(j[i], at);
    allowOnly(j[i], at, {"busy", "variation"});
    cpus.push_back({asNumber(require(j[i], at, "busy"), memberPath(at, "busy")), optionalNumber(j[i], at, "variation")});
  }
  return cpus;
}

std::vector<ProfileProcess> readProcesses(const Json& j, const std::string& path) {
  requireArray(j, path);
  std::vector<ProfileProcess> processes;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const std::string at = indexPath(path, i);
    requireObject(j[i], at);
    allowOnly(j[i], at, {"pid", "name", "share", "uid"});
    ProfileProcess process;
    process.pid = asInteger(require(j[i], at, "pid"), memberPath(at, "pid"));
    process.name = asText(require(j[i], at, "name"), memberPath(at, "name"));
    process.share = asNumber(require(j[i], at, "share"), memberPath(at, "share"));
    if (const Json* uid = find(j[i], "uid")) {
      const std::int64_t value = asInteger(*uid, memberPath(at, "uid"));
      if (value < 0 || value > std::numeric_limits<std::uint32_t>::max()) {
        fail(memberPath(at, "uid"), "expected a user id from 0 to 4294967295");
      }
      process.uid = static_cast<std::uint32_t>(value);
    }
    processes.push_back(std::move(process));
  }
  return processes;
}

std::vector<ProfileRegistryEntry> readRegistry(const Json& j, const std::string& path) {
  requireArray(j, path);
  std::vector<ProfileRegistryEntry> entries;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const std::string at = indexPath(path, i);
    requireObject(j[i], at);
    allowOnly(j[i], at, {"class", "properties"});
    ProfileRegistryEntry entry;
    entry.className = asText(require(j[i], at, "class"), memberPath(at, "class"));
    if (const Json* properties = find(j[i], "properties")) {
      const std::string ppath = memberPath(at, "properties");
      requireObject(*properties, ppath);
      if (isEscape(*properties)) fail(ppath, "expected a dictionary of properties");
      std::vector<std::string> keys;
      entry.properties = RegistryReader(entry.varying).dictionary(*properties, ppath, keys, 1);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<ProfileSmcKey> readSmc(const Json& j, const std::string& path) {
  requireArray(j, path);
  std::vector<ProfileSmcKey> keys;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const std::string at = indexPath(path, i);
    requireObject(j[i], at);
    allowOnly(j[i], at, {"key", "type", "value", "variation"});
    keys.push_back({asText(require(j[i], at, "key"), memberPath(at, "key")),
                    asText(require(j[i], at, "type"), memberPath(at, "type")),
                    asNumber(require(j[i], at, "value"), memberPath(at, "value")),
                    optionalNumber(j[i], at, "variation")});
  }
  return keys;
}

std::vector<ProfileHidSensor> readHid(const Json& j, const std::string& path) {
  requireArray(j, path);
  std::vector<ProfileHidSensor> sensors;
  for (std::size_t i = 0; i < j.size(); ++i) {
    const std::string at = indexPath(path, i);
    requireObject(j[i], at);
    allowOnly(j[i], at, {"product", "celsius", "variation"});
    sensors.push_back({asText(require(j[i], at, "product"), memberPath(at, "product")),
                       asNumber(require(j[i], at, "celsius"), memberPath(at, "celsius")),
                       optionalNumber(j[i], at, "variation")});
  }
  return sensors;
}

void readSystemValues(const Json& j, const std::string& path, MachineProfile& profile) {
  requireObject(j, path);
  for (const auto& [name, value] : j.items()) {
    const std::string at = memberPath(path, name);
    if (value.is_string()) {
      profile.systemTexts[name] = value.get<std::string>();
    } else if (value.is_number_integer()) {
      profile.systemIntegers[name] = asInteger(value, at);
    } else {
      fail(at, "expected text or an integer");
    }
  }
}

std::uint64_t readBytes(const Json& j, const std::string& path) {
  const std::int64_t bytes = asInteger(j, path);
  if (bytes < 0) fail(path, "expected bytes >= 0");
  return static_cast<std::uint64_t>(bytes);
}

void readMemory(const Json& j, const std::string& path, MachineProfile& profile) {
  requireObject(j, path);
  allowOnly(j, path, {"usedBytes", "swapUsedBytes", "variation"});
  const std::optional<double> variation = optionalNumber(j, path, "variation");
  if (const Json* used = find(j, "usedBytes")) {
    profile.memoryUsed = ProfileBytes{readBytes(*used, memberPath(path, "usedBytes")), variation};
  }
  if (const Json* swap = find(j, "swapUsedBytes")) {
    profile.swapUsed = ProfileBytes{readBytes(*swap, memberPath(path, "swapUsedBytes")), variation};
  }
}

OsVersion readOs(const Json& j, const std::string& path) {
  requireObject(j, path);
  allowOnly(j, path, {"name", "major", "minor", "patch"});
  OsVersion os;
  os.name = asText(require(j, path, "name"), memberPath(path, "name"));
  os.major = asInteger(require(j, path, "major"), memberPath(path, "major"));
  os.minor = asInteger(require(j, path, "minor"), memberPath(path, "minor"));
  os.patch = asInteger(require(j, path, "patch"), memberPath(path, "patch"));
  return os;
}

// Whether `j` nests deeper than `limit`, found without recursion.
bool nestsDeeper(const Json& j, std::size_t limit) {
  std::vector<std::pair<const Json*, std::size_t>> pending{{&j, 1}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (!node->is_structured()) continue;
    if (depth > limit) return true;
    for (const Json& child : *node) pending.emplace_back(&child, depth + 1);
  }
  return false;
}

void readReports(const Json& j, const std::string& path, MachineProfile& profile) {
  requireObject(j, path);
  for (const auto& [dataType, report] : j.items()) {
    const std::string at = memberPath(path, dataType);
    if (report.is_string()) {
      profile.hardwareReports[dataType] = report.get<std::string>();  // as the tool wrote it, even when not JSON
    } else if (report.is_object() || report.is_array()) {
      if (nestsDeeper(report, kMaxReportDepth)) fail(at, "nested too deeply");
      profile.hardwareReports[dataType] = report.dump();
    } else {
      fail(at, "expected an object, an array or text");
    }
  }
}

// ---- ranges ---------------------------------------------------------------------

void checkVariation(const std::optional<double>& variation, const std::string& path) {
  if (variation && !(*variation >= 0 && *variation < 1)) fail(path, "expected a fraction >= 0 and below 1");
}

void checkRange(double value, double low, double high, const std::string& path, const char* what) {
  if (!(value >= low && value <= high)) fail(path, what);
}

bool isEnergyUnit(std::string_view unit) { return unit == "mJ" || unit == "uJ" || unit == "\u00B5J" || unit == "nJ"; }

std::optional<double> smcTypeMax(std::string_view type) {
  if (type == "sp78") return 127.99;
  if (type == "flt ") return 1e30;
  if (type == "ui8 ") return 255;
  if (type == "ui16") return 65535;
  if (type == "ui32") return 4294967295.0;
  return std::nullopt;
}

}  // namespace

void validateMachineProfile(const MachineProfile& p) {
  checkVariation(p.variation, "variation");
  checkRange(p.periodSeconds, 1, 1e7, "periodSeconds", "expected seconds from 1 to 1e7");
  checkRange(p.residencyHz, 1, 1e10, "residencyHz", "expected a rate from 1 to 1e10 per second");
  checkRange(p.ticksPerSecond, 1, 1e6, "ticksPerSecond", "expected a rate from 1 to 1e6 per second");

  const std::vector<std::optional<std::size_t>> parents = energyParents(p.counters);
  std::vector<double> partWatts(p.counters.size(), 0.0);
  for (std::size_t i = 0; i < p.counters.size(); ++i) {
    const ProfileCounter& c = p.counters[i];
    const std::string at = indexPath("counters", i);
    checkVariation(c.variation, memberPath(at, "variation"));
    if (c.watts && !c.residency.empty()) fail(at, "expected exactly one of \"watts\" and \"residency\"");
    if (!c.watts && c.residency.empty()) fail(at, "expected \"watts\" or a \"residency\" with at least one state");
    if (c.watts) {
      checkRange(*c.watts, 0, kMaxWatts, memberPath(at, "watts"), "expected a number >= 0 and at most 10000");
      if (!isEnergyUnit(c.unitLabel)) fail(memberPath(at, "unit"), "expected \"mJ\", \"uJ\", \"\u00B5J\" or \"nJ\"");
    }
    double sum = 0;
    for (const auto& [state, share] : c.residency) {
      checkRange(share, 0, kMaxShare, memberPath(memberPath(at, "residency"), state),
                 "expected a share >= 0 and at most 1e6");
      sum += share;
    }
    if (!c.watts && !(sum > 0)) fail(memberPath(at, "residency"), "expected shares with a sum above 0");
    if (!c.within.empty()) {
      if (!parents[i]) fail(memberPath(at, "within"), "expected the name of an earlier energy channel of the same group");
      partWatts[*parents[i]] += *c.watts;
    }
  }
  for (std::size_t i = 0; i < p.counters.size(); ++i) {
    if (p.counters[i].watts && *p.counters[i].watts < partWatts[i]) {
      fail(memberPath(indexPath("counters", i), "watts"), "expected at least the sum of the channels within it");
    }
  }

  for (std::size_t i = 0; i < p.cpus.size(); ++i) {
    const std::string at = indexPath("cpus", i);
    checkRange(p.cpus[i].busy, 0, 1, memberPath(at, "busy"), "expected a share from 0 to 1");
    checkVariation(p.cpus[i].variation, memberPath(at, "variation"));
  }

  std::set<std::int64_t> pids;
  double shares = 0;
  for (std::size_t i = 0; i < p.processes.size(); ++i) {
    const ProfileProcess& process = p.processes[i];
    const std::string at = indexPath("processes", i);
    if (process.pid < 0 || process.pid > std::numeric_limits<std::int32_t>::max()) {
      fail(memberPath(at, "pid"), "expected a process id from 0 to 2147483647");
    }
    if (!pids.insert(process.pid).second) fail(memberPath(at, "pid"), "duplicate process id");
    if (process.name.empty() || process.name.size() > 255) fail(memberPath(at, "name"), "expected 1 to 255 bytes");
    checkRange(process.share, 0, 1, memberPath(at, "share"), "expected a share from 0 to 1");
    shares += process.share;
    if (shares > 1 + 1e-9) fail(memberPath(at, "share"), "the shares of all processes add up to more than 1");
  }

  for (std::size_t i = 0; i < p.registry.size(); ++i) {
    const std::string at = indexPath("registry", i);
    for (const ProfileVaryingProperty& v : p.registry[i].varying) {
      std::string vpath = memberPath(at, "properties");
      for (const std::string& key : v.path) vpath = memberPath(vpath, key);
      if (v.path.empty()) fail(vpath, "a varying value needs a property key");
      checkRange(v.base, -kMaxRegistryNumber, kMaxRegistryNumber, vpath, "expected a number of at most 1e15");
      checkVariation(v.variation, memberPath(vpath, "$variation"));
    }
  }

  std::set<std::string> smcKeys;
  for (std::size_t i = 0; i < p.smcKeys.size(); ++i) {
    const ProfileSmcKey& k = p.smcKeys[i];
    const std::string at = indexPath("smc", i);
    if (k.key.size() != 4) fail(memberPath(at, "key"), "expected four characters");
    if (!smcKeys.insert(k.key).second) fail(memberPath(at, "key"), "duplicate key '" + k.key + "'");
    const std::optional<double> max = smcTypeMax(k.type);
    if (!max) fail(memberPath(at, "type"), "expected \"sp78\", \"flt \", \"ui8 \", \"ui16\" or \"ui32\"");
    const double min = k.type == "sp78" ? -128 : k.type == "flt " ? -*max : 0;
    checkRange(k.value, min, *max, memberPath(at, "value"), "out of range for the key's type");
    checkVariation(k.variation, memberPath(at, "variation"));
  }

  for (std::size_t i = 0; i < p.hidSensors.size(); ++i) {
    const std::string at = indexPath("hidSensors", i);
    checkRange(p.hidSensors[i].celsius, -273.15, 1000, memberPath(at, "celsius"),
               "expected degrees from -273.15 to 1000");
    checkVariation(p.hidSensors[i].variation, memberPath(at, "variation"));
  }

  for (const auto& [name, bytes] : {std::pair{"memory.usedBytes", p.memoryUsed},
                                    std::pair{"memory.swapUsedBytes", p.swapUsed}}) {
    if (!bytes) continue;
    checkRange(static_cast<double>(bytes->base), 0, kMaxBytes, name, "expected bytes of at most 1e18");
    checkVariation(bytes->variation, "memory.variation");
  }
}

std::vector<std::optional<std::size_t>> energyParents(const std::vector<ProfileCounter>& counters) {
  std::vector<std::optional<std::size_t>> parents(counters.size());
  std::map<std::pair<std::string_view, std::string_view>, std::size_t> earlier;  // (group, name) → first index
  for (std::size_t i = 0; i < counters.size(); ++i) {
    const ProfileCounter& c = counters[i];
    if (!c.watts) continue;
    if (!c.within.empty()) {
      const auto found = earlier.find({c.group, c.within});
      if (found != earlier.end()) parents[i] = found->second;
    }
    earlier.try_emplace({c.group, c.name}, i);
  }
  return parents;
}

MachineProfile loadMachineProfile(std::string_view json) {
  Json root;
  try {
    root = parseJson(json);
  } catch (const nlohmann::json::exception& e) {
    fail("", std::string("not valid JSON: ") + e.what());
  }
  requireObject(root, "the profile");
  allowOnly(root, "", {"name", "variation", "periodSeconds", "residencyHz", "ticksPerSecond", "counters", "cpus",
                       "processes", "registry", "smc", "hidSensors", "systemValues", "memory", "os", "hardwareReports"});

  MachineProfile profile;
  if (const Json* j = find(root, "name")) profile.name = asText(*j, "name");
  if (const Json* j = find(root, "variation")) profile.variation = asNumber(*j, "variation");
  if (const Json* j = find(root, "periodSeconds")) profile.periodSeconds = asNumber(*j, "periodSeconds");
  if (const Json* j = find(root, "residencyHz")) profile.residencyHz = asNumber(*j, "residencyHz");
  if (const Json* j = find(root, "ticksPerSecond")) profile.ticksPerSecond = asNumber(*j, "ticksPerSecond");
  if (const Json* j = find(root, "counters")) profile.counters = readCounters(*j, "counters");
  if (const Json* j = find(root, "cpus")) profile.cpus = readCpus(*j, "cpus");
  if (const Json* j = find(root, "processes")) profile.processes = readProcesses(*j, "processes");
  if (const Json* j = find(root, "registry")) profile.registry = readRegistry(*j, "registry");
  if (const Json* j = find(root, "smc")) profile.smcKeys = readSmc(*j, "smc");
  if (const Json* j = find(root, "hidSensors")) profile.hidSensors = readHid(*j, "hidSensors");
  if (const Json* j = find(root, "systemValues")) readSystemValues(*j, "systemValues", profile);
  if (const Json* j = find(root, "memory")) readMemory(*j, "memory", profile);
  if (const Json* j = find(root, "os")) profile.os = readOs(*j, "os");
  if (const Json* j = find(root, "hardwareReports")) readReports(*j, "hardwareReports", profile);
  validateMachineProfile(profile);
  return profile;
}

std::optional<MachineProfile> loadMachineProfileFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text;
  char chunk[65536];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxProfileFileBytes) {
      throw std::invalid_argument("machine profile: larger than " + std::to_string(kMaxProfileFileBytes >> 20) +
                                  " MiB");
    }
  }
  if (file.bad()) return std::nullopt;
  return loadMachineProfile(text);
}

MachineProfile builtinProfile() { return loadMachineProfile(builtinProfileJson()); }

}  // namespace calorim::fake
