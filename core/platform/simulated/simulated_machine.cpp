#include "core/platform/simulated/simulated_machine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/base/units.h"
#include "core/json.h"

namespace calorim::fake {
namespace {

// Cumulative counters start as if the machine had been running this long.
constexpr double kUptimeSeconds = 3600;

// Busy time of a CPU splits into user and system time in this ratio.
constexpr double kUserShare = 0.75;

// Follows the machine's name wherever it is reported.
constexpr std::string_view kSimulatedSuffix = " (simulated)";

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (char c : text) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Uniform in [0, 1), the same on every platform (the standard distributions are not).
double unit(std::uint64_t& state) { return static_cast<double>(splitmix(state) >> 11) * 0x1.0p-53; }

// A counter reading: the integral rounded down, wrapping as a hardware counter
// would instead of overflowing.
std::uint64_t toUnsigned(double value) {
  if (!(value > 0)) return 0;
  return static_cast<std::uint64_t>(std::fmod(std::floor(value), 0x1.0p64));
}

std::int64_t toSigned(double value) {
  if (!(value > 0)) return 0;
  return static_cast<std::int64_t>(std::fmod(std::floor(value), 0x1.0p63));
}

bool isIdleState(std::string_view name) { return name == "IDLE" || name == "OFF"; }

std::uint32_t smcSize(std::string_view type) {
  if (type == "flt " || type == "ui32") return 4;
  if (type == "ui8 ") return 1;
  return 2;
}

bool isIntegerType(std::string_view type) { return type == "ui8 " || type == "ui16" || type == "ui32"; }

// The paced clock of `SimulatedClock::paced`; thread-safe.
class PacedClock final : public ClockPort {
 public:
  std::chrono::system_clock::time_point now() override { return system_.now(); }

  std::chrono::steady_clock::time_point steadyNow() override {
    return start_ + std::chrono::nanoseconds(elapsedNs_.load());
  }

  void sleep(double seconds) override {
    system_.sleep(seconds);
    advance(seconds);
  }

  bool sleep(double seconds, StopToken stop) override {
    const auto began = system_.steadyNow();
    const bool completed = system_.sleep(seconds, stop);
    advance(completed ? seconds : std::min(seconds, std::chrono::duration<double>(system_.steadyNow() - began).count()));
    return completed;
  }

 private:
  void advance(double seconds) {
    if (seconds > 0) elapsedNs_ += static_cast<std::int64_t>(std::llround(seconds * 1e9));
  }

  SystemClock system_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::atomic<std::int64_t> elapsedNs_ = 0;
};

// Seconds on the machine's clock since it was made, plus the uptime.
struct Timebase {
  ClockPort* clock;
  std::chrono::steady_clock::time_point start;

  [[nodiscard]] double now() const {
    return kUptimeSeconds + std::chrono::duration<double>(clock->steadyNow() - start).count();
  }
};

// A reading that wanders around `base` by at most `amplitude`·base.
struct Level {
  detail::Wander wander;
  double base;
  double amplitude;

  [[nodiscard]] double at(double t) const { return base * (1 + amplitude * wander.value(t)); }
};

// Splits a busy share and its complement so that together they always fill the
// whole time: the busy part runs at f·(1 + a·w(t)), the idle part at
// (1 − f)·(1 − b·w(t)) with b = a·f/(1 − f). The amplitude is cut where the
// idle part would otherwise come near 0.
struct BusySplit {
  double busyAmplitude = 0;
  double idleAmplitude = 0;

  BusySplit(double busyShare, double amplitude) {
    if (busyShare <= 0 || busyShare >= 1) return;
    const double ratio = busyShare / (1 - busyShare);
    busyAmplitude = std::min(amplitude, 0.9 / ratio);
    idleAmplitude = busyAmplitude * ratio;
  }
};

// An energy channel's joules are its own wandering part plus the joules of the
// channels within it, so a channel never shows less than its parts together.
struct EnergyGen {
  double ownWatts;  // the base power beyond the channels within it
  double amplitude;
  double unitsPerJoule;
  std::optional<std::size_t> parent;  // index of the channel it lies within, always an earlier one
};

struct StateGen {
  std::vector<std::pair<std::string, double>> shares;  // normalised to sum 1
  BusySplit split;
};

struct CounterGen {
  Channel shape;  // group, subgroup, name, unit and state names
  detail::Wander wander;
  std::optional<EnergyGen> energy;
  std::optional<StateGen> states;
};

CounterDelta countersAt(const std::vector<CounterGen>& gens, double residencyHz, double t) {
  std::vector<double> joules(gens.size(), 0.0);
  for (std::size_t i = 0; i < gens.size(); ++i) {
    if (const auto& e = gens[i].energy) joules[i] = e->ownWatts * (t + e->amplitude * gens[i].wander.integral(t));
  }
  for (std::size_t i = gens.size(); i-- > 0;) {
    if (gens[i].energy && gens[i].energy->parent) joules[*gens[i].energy->parent] += joules[i];
  }
  CounterDelta reading;
  reading.reserve(gens.size());
  for (std::size_t i = 0; i < gens.size(); ++i) {
    const CounterGen& g = gens[i];
    Channel c = g.shape;
    if (g.energy) c.value = toSigned(joules[i] * g.energy->unitsPerJoule);
    if (g.states) {
      const double integral = g.wander.integral(t);
      for (std::size_t s = 0; s < c.states.size(); ++s) {
        const double share = g.states->shares[s].second;
        const double moved = isIdleState(c.states[s].name) ? -g.states->split.idleAmplitude * integral
                                                           : g.states->split.busyAmplitude * integral;
        c.states[s].residency = toUnsigned(residencyHz * share * (t + moved));
      }
    }
    reading.push_back(std::move(c));
  }
  return reading;
}

double variationOf(const std::optional<double>& own, const MachineProfile& profile) {
  return own.value_or(profile.variation);
}

void setAt(RegistryDictionary& dict, const std::vector<std::string>& path, std::size_t i, RegistryValue value) {
  if (i + 1 == path.size()) {
    dict.set(path[i], std::move(value));
    return;
  }
  RegistryDictionary child;
  if (const RegistryValue* existing = dict.find(path[i])) {
    if (const auto* d = existing->as<RegistryDictionary>()) child = *d;
  }
  setAt(child, path, i + 1, std::move(value));
  dict.set(path[i], std::move(child));
}

void wireCounters(const MachineProfile& profile, std::uint64_t seed, const Timebase& time,
                  FakeCounterReports& counters) {
  if (profile.counters.empty()) return;
  const std::vector<std::optional<std::size_t>> parents = energyParents(profile.counters);
  std::vector<double> partWatts(profile.counters.size(), 0.0);
  for (std::size_t i = 0; i < profile.counters.size(); ++i) {
    if (parents[i]) partWatts[*parents[i]] += *profile.counters[i].watts;
  }
  std::vector<CounterGen> gens;
  for (std::size_t i = 0; i < profile.counters.size(); ++i) {
    const ProfileCounter& pc = profile.counters[i];
    CounterGen g{Channel{pc.group, pc.subgroup, pc.name, pc.unitLabel, 0, {}},
                 detail::Wander(seed, "counter:" + pc.group + "/" + pc.subgroup + "/" + pc.name, profile.periodSeconds),
                 std::nullopt, std::nullopt};
    const double amplitude = variationOf(pc.variation, profile);
    if (pc.watts) {
      g.energy = EnergyGen{*pc.watts - partWatts[i], amplitude, unitsPerJoule(pc.unitLabel),
                           parents[i]};
    } else {
      double sum = 0;
      double busy = 0;
      for (const auto& [state, share] : pc.residency) {
        sum += share;
        if (!isIdleState(state)) busy += share;
      }
      StateGen states{{}, BusySplit(busy / sum, amplitude)};
      for (const auto& [state, share] : pc.residency) {
        states.shares.emplace_back(state, share / sum);
        g.shape.states.push_back({state, 0});
      }
      g.states = std::move(states);
    }
    gens.push_back(std::move(g));
  }
  counters.setReadingSource([gens = std::move(gens), hz = profile.residencyHz, time] {
    return countersAt(gens, hz, time.now());
  });
}

// The hardware overview `report` with every machine name marked simulated, so
// that whoever asks the machine its name learns that it is not a real one.
// Text that holds no overview stays as it is.
std::string markedSimulated(const std::string& report) {
  std::optional<Json> parsed = readJson(report);
  if (!parsed || !parsed->is_object()) return report;
  Json& overview = *parsed;
  const auto items = overview.find("SPHardwareDataType");
  if (items == overview.end() || !items->is_array()) return report;
  for (Json& item : *items) {
    if (!item.is_object()) continue;
    const auto name = item.find("machine_name");
    if (name != item.end() && name->is_string()) *name = name->get<std::string>().append(kSimulatedSuffix);
  }
  return overview.dump();
}

struct CpuGen {
  detail::Wander wander;
  double busy;
  BusySplit split;

  // Busy ticks at `hz` from 0 to `t`.
  [[nodiscard]] double busyTicks(double hz, double t) const {
    return hz * busy * (t + split.busyAmplitude * wander.integral(t));
  }
};

// Each process runs for its share of the time all CPUs are busy, so the
// processes follow the machine's load; the table's busy time is the CPUs' own.
// Every process started with the machine. No energy is kept per process.
void wireProcesses(const MachineProfile& profile, const std::vector<CpuGen>& cpus, const Timebase& time,
                   FakeProcesses& processes) {
  // Counted in thousandths of a tick, so that the small shares of a short
  // interval keep their precision and a rate such as 100.5 converts exactly.
  const CpuTimeUnit timeUnit{1'000'000'000, static_cast<std::uint64_t>(std::llround(profile.ticksPerSecond * 1000))};
  processes.setTableSource([cpus, list = profile.processes, hz = profile.ticksPerSecond, timeUnit, time] {
    const double t = time.now();
    double busy = 0;
    for (const CpuGen& cpu : cpus) busy += cpu.busyTicks(hz, t) * 1000;
    ProcessTable table;
    table.unit = timeUnit;
    table.busyTime = toUnsigned(busy);
    for (const ProfileProcess& p : list) {
      table.processes.push_back({p.pid, p.name, p.uid, 0, toUnsigned(p.share * busy), std::nullopt});
    }
    return std::optional(std::move(table));
  });
}

void wireHost(const MachineProfile& profile, std::uint64_t seed, const Timebase& time, FakeHost& host,
              FakeProcesses& processes) {
  if (!profile.cpus.empty()) {
    std::vector<CpuGen> gens;
    for (std::size_t i = 0; i < profile.cpus.size(); ++i) {
      const ProfileCpu& cpu = profile.cpus[i];
      gens.push_back({detail::Wander(seed, "cpu:" + std::to_string(i), profile.periodSeconds), cpu.busy,
                      BusySplit(cpu.busy, variationOf(cpu.variation, profile))});
    }
    if (!profile.processes.empty()) wireProcesses(profile, gens, time, processes);
    host.setTicksSource([gens = std::move(gens), hz = profile.ticksPerSecond, time] {
      const double t = time.now();
      std::vector<CpuTicks> ticks;
      for (const CpuGen& g : gens) {
        const double integral = g.wander.integral(t);
        const double busy = g.busyTicks(hz, t);
        const double idle = hz * (1 - g.busy) * (t - g.split.idleAmplitude * integral);
        ticks.push_back({toUnsigned(kUserShare * busy), toUnsigned((1 - kUserShare) * busy), toUnsigned(idle), 0});
      }
      return std::optional(std::move(ticks));
    });
  }
  for (const auto& [name, text] : profile.systemTexts) host.setSystemText(name, text);
  for (const auto& [name, value] : profile.systemIntegers) host.setSystemInteger(name, value);
  const auto bytesSource = [&](const ProfileBytes& bytes, std::string_view id) {
    const Level level{detail::Wander(seed, id, profile.periodSeconds), static_cast<double>(bytes.base),
                      variationOf(bytes.variation, profile)};
    return [level, time]() -> std::optional<std::uint64_t> { return toUnsigned(level.at(time.now())); };
  };
  if (profile.memoryUsed) host.setMemoryUsedSource(bytesSource(*profile.memoryUsed, "memory:used"));
  if (profile.swapUsed) host.setSwapUsedSource(bytesSource(*profile.swapUsed, "memory:swap"));
  host.setOsVersion(profile.os);
}

void wireRegistry(const MachineProfile& profile, std::uint64_t seed, const Timebase& time, FakeRegistry& registry) {
  for (const ProfileRegistryEntry& entry : profile.registry) {
    if (entry.varying.empty()) {
      registry.addService(entry.className, entry.properties);
      continue;
    }
    struct VaryingGen {
      std::vector<std::string> path;
      Level level;
      bool integer;
    };
    std::vector<VaryingGen> gens;
    for (const ProfileVaryingProperty& v : entry.varying) {
      std::string signal = v.signal;
      if (signal.empty()) {
        for (const std::string& key : v.path) signal += "/" + key;
      }
      gens.push_back({v.path,
                      Level{detail::Wander(seed, "registry:" + signal, profile.periodSeconds), v.base,
                            variationOf(v.variation, profile)},
                      v.integer});
    }
    registry.addLiveService(entry.className, [properties = entry.properties, gens = std::move(gens), time] {
      const double t = time.now();
      RegistryDictionary dict = properties;
      for (const VaryingGen& g : gens) {
        if (g.path.empty()) continue;
        const double value = g.level.at(t);
        if (g.integer) {
          setAt(dict, g.path, 0, static_cast<std::int64_t>(std::llround(value)));
        } else {
          setAt(dict, g.path, 0, value);
        }
      }
      return std::optional(std::move(dict));
    });
  }
}

void wireSensors(const MachineProfile& profile, std::uint64_t seed, const Timebase& time, FakeSmc& smc,
                 FakeHid& hid) {
  for (const ProfileSmcKey& key : profile.smcKeys) {
    smc.addKey(key.key, key.type, smcSize(key.type));
    const double amplitude = isIntegerType(key.type) ? 0 : variationOf(key.variation, profile);
    const Level level{detail::Wander(seed, "smc:" + key.key, profile.periodSeconds), key.value, amplitude};
    smc.setValueSource(key.key, [level, time]() -> std::optional<double> { return level.at(time.now()); });
  }
  std::vector<std::pair<std::string, Level>> sensors;
  for (const ProfileHidSensor& sensor : profile.hidSensors) {
    sensors.emplace_back(sensor.product, Level{detail::Wander(seed, "hid:" + sensor.product, profile.periodSeconds),
                                               sensor.celsius, variationOf(sensor.variation, profile)});
  }
  hid.setSensorsSource([sensors = std::move(sensors), time] {
    const double t = time.now();
    std::vector<HidSensor> list;
    for (const auto& [product, level] : sensors) list.push_back({product, level.at(t)});
    return std::optional(std::move(list));
  });
}

}  // namespace

namespace detail {

Wander::Wander(std::uint64_t seed, std::string_view id, double period) {
  static constexpr double kPeriodFactor[3] = {1.0, 0.37, 0.13};
  std::uint64_t state = seed ^ fnv1a(id);
  for (int k = 0; k < 3; ++k) {
    const double jitter = 0.8 + 0.4 * unit(state);
    omega_[k] = 2 * std::numbers::pi / (period * kPeriodFactor[k] * jitter);
    phase_[k] = 2 * std::numbers::pi * unit(state);
  }
}

namespace {
constexpr double kWeight[3] = {0.6, 0.3, 0.1};
}  // namespace

double Wander::value(double t) const {
  double sum = 0;
  for (int k = 0; k < 3; ++k) sum += kWeight[k] * std::sin(omega_[k] * t + phase_[k]);
  return sum;
}

double Wander::integral(double t) const {
  double sum = 0;
  for (int k = 0; k < 3; ++k) sum += kWeight[k] * (std::cos(phase_[k]) - std::cos(omega_[k] * t + phase_[k])) / omega_[k];
  return sum;
}

}  // namespace detail

SimulatedMachine::SimulatedMachine(const MachineProfile& profile, std::uint64_t seed, SimulatedClock clock) {
  validateMachineProfile(profile);
  if (clock == SimulatedClock::real) {
    fakes_.platform->clock = std::make_unique<SystemClock>();
    fakes_.clock = nullptr;
  } else if (clock == SimulatedClock::paced) {
    fakes_.platform->clock = std::make_unique<PacedClock>();
    fakes_.clock = nullptr;
  }
  // The generators hold the clock by pointer: it lives in the same platform as
  // the fakes that hold the generators.
  const Timebase time{fakes_.platform->clock.get(), fakes_.platform->clock->steadyNow()};
  wireCounters(profile, seed, time, *fakes_.counters);
  wireHost(profile, seed, time, *fakes_.host, *fakes_.processes);
  wireRegistry(profile, seed, time, *fakes_.registry);
  wireSensors(profile, seed, time, *fakes_.smc, *fakes_.hid);
  for (const auto& [dataType, report] : profile.hardwareReports) {
    fakes_.hardwareReport->setReport(dataType, dataType == "SPHardwareDataType" ? markedSimulated(report) : report);
  }
  fakes_.hardwareReport->setUnknownMachineName(std::string("Unknown Mac").append(kSimulatedSuffix));
}

std::shared_ptr<Platform> makeSimulatedPlatform(const MachineProfile& profile, std::uint64_t seed,
                                                SimulatedClock clock) {
  return SimulatedMachine(profile, seed, clock).platform();
}

std::variant<std::shared_ptr<Platform>, ProfileFailure> openSimulatedPlatform(const std::optional<std::string>& path,
                                                                            SimulatedClock clock) {
  try {
    MachineProfile profile;
    if (path) {
      std::optional<MachineProfile> read = loadMachineProfileFile(*path);
      if (!read) return ProfileFailure{.unreadable = true, .reason = {}};
      profile = std::move(*read);
    } else {
      profile = builtinProfile();
    }
    return makeSimulatedPlatform(profile, 1, clock);
  } catch (const std::invalid_argument& e) {
    return ProfileFailure{.unreadable = false, .reason = e.what()};
  }
}

std::string profileFailureText(const ProfileFailure& failure, const std::optional<std::string>& path) {
  if (failure.unreadable) return "cannot read the profile " + path.value_or("");
  return path.value_or("built-in profile") + ": " + failure.reason;
}

}  // namespace calorim::fake
