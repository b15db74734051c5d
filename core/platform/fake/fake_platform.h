#pragma once
// The in-memory backend: every port of the seam, scripted by tests. Readings
// are queued; when a queue runs dry the last reading repeats, as a machine
// whose counters stood still would report. Failures are scripted the same way.
// A reading source (a generator function) may stand in for the repeated last
// reading: a queued reading still comes first, and only when the queue is empty
// is the source asked. The simulated machine (simulated_machine.h) drives the
// fakes this way. Nothing here touches the operating system, and the fake
// clock never sleeps.

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/platform.h"

namespace calorim::fake {

// Counter reports. Each reading is the cumulative state of every counter of the
// machine; a delta subtracts two readings channel by channel. The groups that
// exist are those of the channels in any queued reading.
class FakeCounterReports final : public CounterReportPort {
 public:
  // Queues the next reading; absent makes that `createSamples` fail.
  void pushReading(std::optional<CounterDelta> cumulative);
  void setSubscriptionFails(bool fails) { subscriptionFails_ = fails; }
  void setSubscribedChannelsMissing(bool missing) { subscribedMissing_ = missing; }
  void setDeltaFails(bool fails) { deltaFails_ = fails; }
  // Asked for the cumulative reading whenever a sample is taken with an empty
  // queue; its channels also count toward the groups that exist. Called under
  // the fake's lock, possibly from several threads: it must not call back into
  // this fake. An empty function removes the source.
  void setReadingSource(std::function<CounterDelta()> source);
  [[nodiscard]] int samplesTaken() const;

  std::unique_ptr<ChannelSet> copyChannelsInGroup(std::string_view group,
                                                  std::optional<std::string_view> subgroup) override;
  void mergeChannels(ChannelSet& target, const ChannelSet& source) override;
  std::unique_ptr<CounterSubscription> createSubscription(const ChannelSet& channels,
                                                          std::unique_ptr<ChannelSet>& subscribed) override;
  std::unique_ptr<RawSample> createSamples(const CounterSubscription& subscription,
                                           const ChannelSet& subscribed) override;
  std::optional<CounterDelta> createSamplesDelta(const RawSample& earlier, const RawSample& later) override;

 private:
  mutable std::mutex mutex_;
  std::deque<std::optional<CounterDelta>> queue_;
  std::function<CounterDelta()> source_;
  std::vector<CounterDelta> seen_;
  CounterDelta last_;
  int samplesTaken_ = 0;
  bool subscriptionFails_ = false;
  bool subscribedMissing_ = false;
  bool deltaFails_ = false;
};

// Registry services by class name, in the order they were added.
class FakeRegistry final : public RegistryPort {
 public:
  // Adds a service; `properties` absent makes reading its properties fail.
  void addService(std::string className, std::optional<RegistryDictionary> properties);
  // Adds a service whose properties `source` gives afresh at every read
  // (absent: the read fails). Called under the fake's lock.
  void addLiveService(std::string className, std::function<std::optional<RegistryDictionary>()> source);
  void clear();

  std::vector<std::unique_ptr<RegistryService>> matchingServices(std::string_view className) override;
  std::optional<RegistryDictionary> properties(const RegistryService& service) override;
  std::optional<RegistryValue> property(const RegistryService& service, std::string_view key) override;

 private:
  struct Entry {
    std::string className;
    std::optional<RegistryDictionary> properties;
    std::function<std::optional<RegistryDictionary>()> source;  // replaces `properties` when set

    [[nodiscard]] std::optional<RegistryDictionary> read() const { return source ? source() : properties; }
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// A system management controller with a table of keys. Each key has a type, a
// size and a queue of values (raw data bytes; absent makes that read fail).
class FakeSmc final : public SmcPort {
 public:
  struct Key {
    std::string type;  // four characters, e.g. "sp78" or "flt "
    std::uint32_t size = 0;
    std::deque<std::optional<std::vector<std::uint8_t>>> values;
    std::optional<std::vector<std::uint8_t>> last;
    std::function<std::optional<double>()> source;  // asked when `values` is empty
  };

  void setOpenFails(bool fails) { openFails_ = fails; }
  void addKey(const std::string& key, std::string type, std::uint32_t size);
  void pushValue(const std::string& key, std::optional<std::vector<std::uint8_t>> bytes);
  void pushCelsius(const std::string& key, std::optional<double> celsius);  // encoded by the key's type
  // Gives the key's value (°C, rpm or a count; absent makes the read fail)
  // whenever its queue is empty, encoded by the key's type: "sp78", "flt ",
  // or big-endian unsigned "ui8 ", "ui16", "ui32" (rounded and clamped to the
  // type's range). The key must have been added.
  void setValueSource(const std::string& key, std::function<std::optional<double>()> source);
  [[nodiscard]] int calls() const { return calls_; }

  // Encodings of the controller's value types.
  static std::vector<std::uint8_t> sp78(double celsius);
  static std::vector<std::uint8_t> flt(float value);
  // `value` in the encoding of `type`; "sp78" for an unknown type.
  static std::vector<std::uint8_t> encode(const std::string& type, double value);

  std::unique_ptr<SmcConnection> open() override;

 private:
  class Connection;
  std::optional<SmcParamBlock> answer(std::uint32_t selector, const SmcParamBlock& input);

  bool openFails_ = false;
  int calls_ = 0;
  std::map<std::string, Key> keys_;
};

// HID temperature sensors.
class FakeHid final : public HidPort {
 public:
  // The next `count` client creations fail.
  void failClientCreations(int count) { failCreations_ = count; }
  // The services every client lists from now on; absent means no list at all.
  // Removes a source set before.
  void setSensors(std::optional<std::vector<HidSensor>> sensors);
  // Every client asks `source` for its list at each copy instead.
  void setSensorsSource(std::function<std::optional<std::vector<HidSensor>>()> source);
  [[nodiscard]] int clientsCreated() const { return clientsCreated_; }
  [[nodiscard]] std::optional<std::pair<std::uint32_t, std::uint32_t>> matching() const { return matching_; }

  std::unique_ptr<HidClient> createClient() override;

 private:
  class Client;
  int failCreations_ = 0;
  int clientsCreated_ = 0;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> matching_;
  std::optional<std::vector<HidSensor>> sensors_ = std::vector<HidSensor>{};
  std::function<std::optional<std::vector<HidSensor>>()> sensorsSource_;
};

class FakeHost final : public HostPort {
 public:
  // Queues the next tick reading; absent makes that reading fail.
  void pushTicks(std::optional<std::vector<CpuTicks>> ticks);
  // Asked for the ticks whenever the queue is empty (instead of repeating the
  // last reading). Called under the fake's lock.
  void setTicksSource(std::function<std::optional<std::vector<CpuTicks>>()> source);
  // Give memory and swap in use at every read instead of the fixed values.
  void setMemoryUsedSource(std::function<std::optional<std::uint64_t>()> source);
  void setSwapUsedSource(std::function<std::optional<std::uint64_t>()> source);
  void setSystemText(const std::string& name, std::string value) { texts_[name] = std::move(value); }
  void setSystemInteger(const std::string& name, std::int64_t value) { integers_[name] = value; }
  void setMemoryUsed(std::optional<std::uint64_t> bytes) { memoryUsed_ = bytes; }
  void setSwapUsed(std::optional<std::uint64_t> bytes) { swapUsed_ = bytes; }
  void setOsVersion(std::optional<OsVersion> version) { osVersion_ = std::move(version); }

  std::optional<std::vector<CpuTicks>> processorTicks() override;
  std::optional<std::string> systemText(std::string_view name) override;
  std::optional<std::int64_t> systemInteger(std::string_view name) override;
  std::optional<std::uint64_t> memoryUsedBytes() override;
  std::optional<std::uint64_t> swapUsedBytes() override;
  std::optional<OsVersion> osVersion() override { return osVersion_; }

 private:
  std::mutex mutex_;
  std::deque<std::optional<std::vector<CpuTicks>>> ticks_;
  std::function<std::optional<std::vector<CpuTicks>>()> ticksSource_;
  std::function<std::optional<std::uint64_t>()> memoryUsedSource_;
  std::function<std::optional<std::uint64_t>()> swapUsedSource_;
  std::optional<std::vector<CpuTicks>> lastTicks_;
  std::map<std::string, std::string, std::less<>> texts_;
  std::map<std::string, std::int64_t, std::less<>> integers_;
  std::optional<std::uint64_t> memoryUsed_;
  std::optional<std::uint64_t> swapUsed_;
  std::optional<OsVersion> osVersion_;
};

// Process and control-group tables: queued readings, then a source, then the
// last reading again. Absent readings make that call fail.
class FakeProcesses final : public ProcessPort {
 public:
  void pushTable(std::optional<ProcessTable> table);
  // Asked whenever the queue is empty. Called under the fake's lock.
  void setTableSource(std::function<std::optional<ProcessTable>()> source);
  void pushCgroups(std::optional<CgroupTable> table);
  // Asked with the depth whenever the queue is empty. Called under the fake's lock.
  void setCgroupsSource(std::function<std::optional<CgroupTable>(int depth)> source);
  [[nodiscard]] int tablesRead() const;

  std::optional<ProcessTable> processes() override;
  std::optional<CgroupTable> cgroups(int depth) override;

 private:
  mutable std::mutex mutex_;
  std::deque<std::optional<ProcessTable>> tables_;
  std::function<std::optional<ProcessTable>()> tableSource_;
  std::optional<ProcessTable> lastTable_;
  std::deque<std::optional<CgroupTable>> cgroups_;
  std::function<std::optional<CgroupTable>(int)> cgroupsSource_;
  std::optional<CgroupTable> lastCgroups_;
  int tablesRead_ = 0;
};

class FakeHardwareReport final : public HardwareReportPort {
 public:
  void setReport(const std::string& dataType, std::optional<std::string> json) { reports_[dataType] = std::move(json); }
  std::optional<std::string> report(std::string_view dataType) override;
  void setUnknownMachineName(std::string name) { unknownMachineName_ = std::move(name); }
  [[nodiscard]] std::string_view unknownMachineName() const override { return unknownMachineName_; }

 private:
  std::map<std::string, std::optional<std::string>, std::less<>> reports_;
  std::string unknownMachineName_ = "Unknown Mac";
};

// A clock that stands still until something sleeps on it or a test advances it.
class FakeClock final : public ClockPort {
 public:
  FakeClock();
  void advance(double seconds);
  [[nodiscard]] double slept() const;  // total seconds slept so far

  std::chrono::system_clock::time_point now() override;
  std::chrono::steady_clock::time_point steadyNow() override;
  void sleep(double seconds) override;

 private:
  mutable std::mutex mutex_;
  std::chrono::system_clock::time_point wall_;
  std::chrono::steady_clock::time_point steady_;
  double slept_ = 0;
};

// A clock that tells the real time but whose interruptible sleeps last until
// they are stopped: a sampling loop on it never gets past its first wait, so a
// test or benchmark alone decides what is published.
class HeldClock final : public ClockPort {
 public:
  std::chrono::system_clock::time_point now() override { return std::chrono::system_clock::now(); }
  std::chrono::steady_clock::time_point steadyNow() override { return std::chrono::steady_clock::now(); }
  void sleep(double /*seconds*/) override {}
  bool sleep(double seconds, StopToken stop) override;
};

// A whole fake machine: the platform bundle plus typed access to each fake for
// scripting. The typed pointers stay valid as long as `platform` lives.
struct FakeMachine {
  FakeMachine();

  std::shared_ptr<Platform> platform;
  FakeCounterReports* counters;
  FakeRegistry* registry;
  FakeSmc* smc;
  FakeHid* hid;
  FakeHost* host;
  FakeHardwareReport* hardwareReport;
  FakeProcesses* processes;
  FakeClock* clock;
};

}  // namespace calorim::fake
