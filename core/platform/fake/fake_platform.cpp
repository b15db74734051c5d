#include "core/platform/fake/fake_platform.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>

#include "core/base/little_endian.h"

namespace calorim::fake {
namespace {

// Which channels a set holds: a group, and one subgroup of it or all of them.
struct Selector {
  std::string group;
  std::optional<std::string> subgroup;

  [[nodiscard]] bool matches(const Channel& c) const {
    return c.group == group && (!subgroup || c.subgroup == *subgroup);
  }
};

struct FakeChannelSet final : ChannelSet {
  std::vector<Selector> selectors;

  [[nodiscard]] bool holds(const Channel& c) const {
    return std::any_of(selectors.begin(), selectors.end(), [&](const Selector& s) { return s.matches(c); });
  }
};

struct FakeSubscription final : CounterSubscription {};

struct FakeRawSample final : RawSample {
  CounterDelta reading;
};

bool sameChannel(const Channel& a, const Channel& b) {
  return a.group == b.group && a.subgroup == b.subgroup && a.name == b.name;
}

}  // namespace

// ---- counters ---------------------------------------------------------------

void FakeCounterReports::pushReading(std::optional<CounterDelta> cumulative) {
  std::lock_guard lock(mutex_);
  if (cumulative) seen_.push_back(*cumulative);
  queue_.push_back(std::move(cumulative));
}

void FakeCounterReports::setReadingSource(std::function<CounterDelta()> source) {
  std::lock_guard lock(mutex_);
  source_ = std::move(source);
}

int FakeCounterReports::samplesTaken() const {
  std::lock_guard lock(mutex_);
  return samplesTaken_;
}

std::unique_ptr<ChannelSet> FakeCounterReports::copyChannelsInGroup(std::string_view group,
                                                                    std::optional<std::string_view> subgroup) {
  std::lock_guard lock(mutex_);
  Selector selector{std::string(group), subgroup ? std::optional<std::string>(*subgroup) : std::nullopt};
  const auto holds = [&](const CounterDelta& reading) {
    return std::any_of(reading.begin(), reading.end(), [&](const Channel& c) { return selector.matches(c); });
  };
  const bool exists = std::any_of(seen_.begin(), seen_.end(), holds) || (source_ && holds(source_()));
  if (!exists) return nullptr;
  auto set = std::make_unique<FakeChannelSet>();
  set->selectors.push_back(std::move(selector));
  return set;
}

void FakeCounterReports::mergeChannels(ChannelSet& target, const ChannelSet& source) {
  auto& into = static_cast<FakeChannelSet&>(target);
  const auto& from = static_cast<const FakeChannelSet&>(source);
  into.selectors.insert(into.selectors.end(), from.selectors.begin(), from.selectors.end());
}

std::unique_ptr<CounterSubscription> FakeCounterReports::createSubscription(const ChannelSet& channels,
                                                                            std::unique_ptr<ChannelSet>& subscribed) {
  subscribed = subscribedMissing_ ? nullptr
                                  : std::make_unique<FakeChannelSet>(static_cast<const FakeChannelSet&>(channels));
  if (subscriptionFails_) return nullptr;
  return std::make_unique<FakeSubscription>();
}

std::unique_ptr<RawSample> FakeCounterReports::createSamples(const CounterSubscription& /*subscription*/,
                                                             const ChannelSet& subscribed) {
  std::lock_guard lock(mutex_);
  ++samplesTaken_;
  if (!queue_.empty()) {
    std::optional<CounterDelta> next = std::move(queue_.front());
    queue_.pop_front();
    if (!next) return nullptr;
    last_ = std::move(*next);
  } else if (source_) {
    last_ = source_();
  }
  const auto& set = static_cast<const FakeChannelSet&>(subscribed);
  auto sample = std::make_unique<FakeRawSample>();
  std::copy_if(last_.begin(), last_.end(), std::back_inserter(sample->reading),
               [&](const Channel& c) { return set.holds(c); });
  return sample;
}

std::optional<CounterDelta> FakeCounterReports::createSamplesDelta(const RawSample& earlier, const RawSample& later) {
  if (deltaFails_) return std::nullopt;
  const auto& a = static_cast<const FakeRawSample&>(earlier).reading;
  const auto& b = static_cast<const FakeRawSample&>(later).reading;
  CounterDelta delta;
  delta.reserve(b.size());
  for (const Channel& now : b) {
    Channel d = now;
    auto before = std::find_if(a.begin(), a.end(), [&](const Channel& c) { return sameChannel(c, now); });
    if (before != a.end()) {
      d.value = now.value - before->value;
      for (std::size_t i = 0; i < d.states.size() && i < before->states.size(); ++i) {
        d.states[i].residency = now.states[i].residency - before->states[i].residency;
      }
    }
    delta.push_back(std::move(d));
  }
  return delta;
}

// ---- registry ---------------------------------------------------------------

namespace {
struct FakeService final : RegistryService {
  explicit FakeService(std::size_t i) : index(i) {}
  std::size_t index;
};
}  // namespace

void FakeRegistry::addService(std::string className, std::optional<RegistryDictionary> properties) {
  std::lock_guard lock(mutex_);
  entries_.push_back({std::move(className), std::move(properties), {}});
}

void FakeRegistry::addLiveService(std::string className,
                                  std::function<std::optional<RegistryDictionary>()> source) {
  std::lock_guard lock(mutex_);
  entries_.push_back({std::move(className), std::nullopt, std::move(source)});
}

void FakeRegistry::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::vector<std::unique_ptr<RegistryService>> FakeRegistry::matchingServices(std::string_view className) {
  std::lock_guard lock(mutex_);
  std::vector<std::unique_ptr<RegistryService>> found;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].className == className) found.push_back(std::make_unique<FakeService>(i));
  }
  return found;
}

std::optional<RegistryDictionary> FakeRegistry::properties(const RegistryService& service) {
  std::lock_guard lock(mutex_);
  const std::size_t i = static_cast<const FakeService&>(service).index;
  if (i >= entries_.size()) return std::nullopt;
  return entries_[i].read();
}

std::optional<RegistryValue> FakeRegistry::property(const RegistryService& service, std::string_view key) {
  std::lock_guard lock(mutex_);
  const std::size_t i = static_cast<const FakeService&>(service).index;
  if (i >= entries_.size()) return std::nullopt;
  const std::optional<RegistryDictionary> properties = entries_[i].read();
  if (!properties) return std::nullopt;
  const RegistryValue* value = properties->find(key);
  if (value == nullptr) return std::nullopt;
  return *value;
}

// ---- SMC --------------------------------------------------------------------

class FakeSmc::Connection final : public SmcConnection {
 public:
  explicit Connection(FakeSmc& smc) : smc_(smc) {}
  std::optional<SmcParamBlock> call(std::uint32_t selector, const SmcParamBlock& input) override {
    return smc_.answer(selector, input);
  }

 private:
  FakeSmc& smc_;
};

namespace {
using namespace smc;

std::string keyName(std::uint32_t code) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(code >> (8 * (3 - i)));
  return s;
}
}  // namespace

void FakeSmc::addKey(const std::string& key, std::string type, std::uint32_t size) {
  keys_[key] = Key{std::move(type), size, {}, std::nullopt, {}};
}

void FakeSmc::pushValue(const std::string& key, std::optional<std::vector<std::uint8_t>> bytes) {
  keys_.at(key).values.push_back(std::move(bytes));
}

void FakeSmc::pushCelsius(const std::string& key, std::optional<double> celsius) {
  Key& k = keys_.at(key);
  if (!celsius) {
    k.values.emplace_back(std::nullopt);
  } else if (k.type == "flt ") {
    k.values.emplace_back(flt(static_cast<float>(*celsius)));
  } else {
    k.values.emplace_back(sp78(*celsius));
  }
}

void FakeSmc::setValueSource(const std::string& key, std::function<std::optional<double>()> source) {
  keys_.at(key).source = std::move(source);
}

std::vector<std::uint8_t> FakeSmc::encode(const std::string& type, double value) {
  if (!std::isfinite(value)) value = 0;
  const auto bigEndian = [&](int bytes, double max) {
    const auto raw = static_cast<std::uint64_t>(std::llround(std::clamp(value, 0.0, max)));
    std::vector<std::uint8_t> out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(raw >> (8 * i)));
    return out;
  };
  if (type == "flt ") return flt(static_cast<float>(std::clamp(value, -double{FLT_MAX}, double{FLT_MAX})));
  if (type == "ui8 ") return bigEndian(1, 255.0);
  if (type == "ui16") return bigEndian(2, 65535.0);
  if (type == "ui32") return bigEndian(4, 4294967295.0);
  return sp78(std::clamp(value, -128.0, 32767.0 / 256.0));
}

std::vector<std::uint8_t> FakeSmc::sp78(double celsius) {
  const auto raw = static_cast<std::int16_t>(std::lround(celsius * 256.0));
  const auto bits = static_cast<std::uint16_t>(raw);
  return {static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits & 0xFF)};
}

std::vector<std::uint8_t> FakeSmc::flt(float value) {
  std::vector<std::uint8_t> bytes;
  appendLE32(bytes, std::bit_cast<std::uint32_t>(value));
  return bytes;
}

std::unique_ptr<SmcConnection> FakeSmc::open() {
  if (openFails_) return nullptr;
  return std::make_unique<Connection>(*this);
}

std::optional<SmcParamBlock> FakeSmc::answer(std::uint32_t selector, const SmcParamBlock& input) {
  ++calls_;
  if (selector != kSelector) return std::nullopt;
  const std::string key = keyName(loadLE32(input, kKeyOffset));
  auto it = keys_.find(key);
  if (it == keys_.end()) return std::nullopt;
  Key& k = it->second;
  SmcParamBlock out{};
  storeLE32(out, kKeyOffset, loadLE32(input, kKeyOffset));
  switch (input[kCommandOffset]) {
    case kReadKeyInfo:
      storeLE32(out, kDataSizeOffset, k.size);
      storeLE32(out, kDataTypeOffset, keyCode(k.type));
      return out;
    case kReadBytes: {
      if (!k.values.empty()) {
        k.last = k.values.front();
        k.values.pop_front();
      } else if (k.source) {
        const std::optional<double> value = k.source();
        k.last = value ? std::optional(encode(k.type, *value)) : std::nullopt;
      }
      if (!k.last) return std::nullopt;
      const std::size_t n = std::min<std::size_t>({k.last->size(), kBytesCapacity, loadLE32(input, kDataSizeOffset)});
      std::copy_n(k.last->begin(), n, out.begin() + kBytesOffset);
      return out;
    }
    default:
      return std::nullopt;
  }
}

// ---- HID --------------------------------------------------------------------

class FakeHid::Client final : public HidClient {
 public:
  explicit Client(FakeHid& hid) : hid_(hid) {}
  void setMatching(std::uint32_t page, std::uint32_t usage) override { hid_.matching_ = {page, usage}; }
  std::optional<std::vector<HidSensor>> copyServices() override {
    return hid_.sensorsSource_ ? hid_.sensorsSource_() : hid_.sensors_;
  }

 private:
  FakeHid& hid_;
};

void FakeHid::setSensors(std::optional<std::vector<HidSensor>> sensors) {
  sensors_ = std::move(sensors);
  sensorsSource_ = nullptr;
}

void FakeHid::setSensorsSource(std::function<std::optional<std::vector<HidSensor>>()> source) {
  sensorsSource_ = std::move(source);
}

std::unique_ptr<HidClient> FakeHid::createClient() {
  if (failCreations_ > 0) {
    --failCreations_;
    return nullptr;
  }
  ++clientsCreated_;
  return std::make_unique<Client>(*this);
}

// ---- host -------------------------------------------------------------------

void FakeHost::pushTicks(std::optional<std::vector<CpuTicks>> ticks) {
  std::lock_guard lock(mutex_);
  ticks_.push_back(std::move(ticks));
}

void FakeHost::setTicksSource(std::function<std::optional<std::vector<CpuTicks>>()> source) {
  std::lock_guard lock(mutex_);
  ticksSource_ = std::move(source);
}

void FakeHost::setMemoryUsedSource(std::function<std::optional<std::uint64_t>()> source) {
  std::lock_guard lock(mutex_);
  memoryUsedSource_ = std::move(source);
}

void FakeHost::setSwapUsedSource(std::function<std::optional<std::uint64_t>()> source) {
  std::lock_guard lock(mutex_);
  swapUsedSource_ = std::move(source);
}

std::optional<std::uint64_t> FakeHost::memoryUsedBytes() {
  std::lock_guard lock(mutex_);
  return memoryUsedSource_ ? memoryUsedSource_() : memoryUsed_;
}

std::optional<std::uint64_t> FakeHost::swapUsedBytes() {
  std::lock_guard lock(mutex_);
  return swapUsedSource_ ? swapUsedSource_() : swapUsed_;
}

std::optional<std::vector<CpuTicks>> FakeHost::processorTicks() {
  std::lock_guard lock(mutex_);
  if (ticks_.empty()) {
    if (!ticksSource_) return lastTicks_;
    std::optional<std::vector<CpuTicks>> next = ticksSource_();
    if (next) lastTicks_ = next;
    return next;
  }
  std::optional<std::vector<CpuTicks>> next = std::move(ticks_.front());
  ticks_.pop_front();
  if (next) lastTicks_ = next;
  return next;
}

std::optional<std::string> FakeHost::systemText(std::string_view name) {
  auto it = texts_.find(name);
  if (it == texts_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::int64_t> FakeHost::systemInteger(std::string_view name) {
  auto it = integers_.find(name);
  if (it == integers_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> FakeHardwareReport::report(std::string_view dataType) {
  auto it = reports_.find(dataType);
  if (it == reports_.end()) return std::nullopt;
  return it->second;
}

// ---- clock ------------------------------------------------------------------

FakeClock::FakeClock()
    // 2025-01-31T12:34:56Z: a fixed start keeps timestamps in tests reproducible.
    : wall_(std::chrono::sys_seconds(std::chrono::seconds(1738326896))), steady_() {}

void FakeClock::advance(double seconds) {
  std::lock_guard lock(mutex_);
  const auto d = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
  wall_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(d);
  steady_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(d);
}

double FakeClock::slept() const {
  std::lock_guard lock(mutex_);
  return slept_;
}

std::chrono::system_clock::time_point FakeClock::now() {
  std::lock_guard lock(mutex_);
  return wall_;
}

std::chrono::steady_clock::time_point FakeClock::steadyNow() {
  std::lock_guard lock(mutex_);
  return steady_;
}

void FakeClock::sleep(double seconds) {
  if (!(seconds > 0)) return;
  advance(seconds);
  std::lock_guard lock(mutex_);
  slept_ += seconds;
}

bool HeldClock::sleep(double /*seconds*/, StopToken stop) {
  stop.waitForStop();
  return false;
}

// ---- processes --------------------------------------------------------------

void FakeProcesses::pushTable(std::optional<ProcessTable> table) {
  std::lock_guard lock(mutex_);
  tables_.push_back(std::move(table));
}

void FakeProcesses::setTableSource(std::function<std::optional<ProcessTable>()> source) {
  std::lock_guard lock(mutex_);
  tableSource_ = std::move(source);
}

void FakeProcesses::pushCgroups(std::optional<CgroupTable> table) {
  std::lock_guard lock(mutex_);
  cgroups_.push_back(std::move(table));
}

void FakeProcesses::setCgroupsSource(std::function<std::optional<CgroupTable>(int)> source) {
  std::lock_guard lock(mutex_);
  cgroupsSource_ = std::move(source);
}

int FakeProcesses::tablesRead() const {
  std::lock_guard lock(mutex_);
  return tablesRead_;
}

std::optional<ProcessTable> FakeProcesses::processes() {
  std::lock_guard lock(mutex_);
  ++tablesRead_;
  if (!tables_.empty()) {
    std::optional<ProcessTable> table = std::move(tables_.front());
    tables_.pop_front();
    if (table) lastTable_ = table;
    return table;
  }
  if (tableSource_) return tableSource_();
  return lastTable_;
}

std::optional<CgroupTable> FakeProcesses::cgroups(int depth) {
  std::lock_guard lock(mutex_);
  if (depth < 1) return std::nullopt;
  if (!cgroups_.empty()) {
    std::optional<CgroupTable> table = std::move(cgroups_.front());
    cgroups_.pop_front();
    if (table) lastCgroups_ = table;
    return table;
  }
  if (cgroupsSource_) return cgroupsSource_(depth);
  return lastCgroups_;
}

// ---- machine ----------------------------------------------------------------

FakeMachine::FakeMachine() : platform(std::make_shared<Platform>()) {
  auto c = std::make_unique<FakeCounterReports>();
  auto r = std::make_unique<FakeRegistry>();
  auto s = std::make_unique<FakeSmc>();
  auto h = std::make_unique<FakeHid>();
  auto o = std::make_unique<FakeHost>();
  auto w = std::make_unique<FakeHardwareReport>();
  auto p = std::make_unique<FakeProcesses>();
  auto k = std::make_unique<FakeClock>();
  counters = c.get();
  registry = r.get();
  smc = s.get();
  hid = h.get();
  host = o.get();
  hardwareReport = w.get();
  processes = p.get();
  clock = k.get();
  platform->counters = std::move(c);
  platform->registry = std::move(r);
  platform->smc = std::move(s);
  platform->hid = std::move(h);
  platform->host = std::move(o);
  platform->hardwareReport = std::move(w);
  platform->processes = std::move(p);
  platform->clock = std::move(k);
}

}  // namespace calorim::fake
