#pragma once
// The counter-reports port: channel groups of cumulative energy counters and
// performance-state residencies, subscriptions to them, raw samples and the
// difference of two samples. Shaped after the platform's counter-reporting
// library; a backend translates its own counters into these shapes.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calorim {

// One performance state of a channel and its residency within a delta.
// A state without a name has the empty name.
struct ChannelState {
  std::string name;
  std::uint64_t residency = 0;

  bool operator==(const ChannelState&) const = default;
};

// One channel of a delta. Texts the platform did not give are empty; an empty
// unit label reads as millijoules. `value` is the signed difference of a simple
// counter (energy in the unit of the label, or bytes); `states` lists the
// residencies of a state channel in state order.
struct Channel {
  std::string group;
  std::string subgroup;
  std::string name;
  std::string unitLabel;
  std::int64_t value = 0;
  std::vector<ChannelState> states;

  bool operator==(const Channel&) const = default;
};

// The differences of two samples, in the backend's channel order.
using CounterDelta = std::vector<Channel>;

// Opaque handles owned by whoever holds them; destroying one releases it.
class ChannelSet {
 public:
  virtual ~ChannelSet() = default;
};
class CounterSubscription {
 public:
  virtual ~CounterSubscription() = default;
};
class RawSample {
 public:
  virtual ~RawSample() = default;
};

// Whether this process can read the machine's energy counters, found by
// trying to read them.
struct EnergyAccess {
  enum class State {
    readable,  // counters present and readable (or the backend has no way to tell otherwise)
    absent,    // the machine has no energy counters the backend knows of
    denied,    // counters present, but this user may not read them
  };
  State state = State::readable;
  // Where the backend looks for the counters (e.g. "/sys/class/powercap");
  // empty when it has no such folder.
  std::string folder;

  bool operator==(const EnergyAccess&) const = default;
};

// What can go wrong with the counters, for a backend to word in its own terms.
enum class CounterFailure {
  groupMissing,        // a channel group the caller needs does not exist
  subscriptionFailed,  // the channels could not be subscribed to
  sampleFailed,        // a sample or a delta could not be taken
};

class CounterReportPort {
 public:
  virtual ~CounterReportPort() = default;

  // This backend's own words for `failure` (`group` names the missing group),
  // one phrase for people to read; empty keeps the wording of the platform's
  // counter-reporting library.
  [[nodiscard]] virtual std::string failureText(CounterFailure failure, std::string_view group) {
    (void)failure;
    (void)group;
    return {};
  }

  // Looks at the energy counters afresh. A backend that cannot tell the cases
  // apart answers `readable` and lets a missing channel group speak for itself.
  [[nodiscard]] virtual EnergyAccess energyAccess() { return {}; }

  // The channels of `group` (of one `subgroup` when given); null when the group
  // does not exist.
  [[nodiscard]] virtual std::unique_ptr<ChannelSet> copyChannelsInGroup(
      std::string_view group, std::optional<std::string_view> subgroup) = 0;

  // Adds the channels of `source` to `target`.
  virtual void mergeChannels(ChannelSet& target, const ChannelSet& source) = 0;

  // Subscribes to `channels`. Returns the subscription (null on failure) and
  // hands the set of subscribed channels back through `subscribed` (null when
  // the platform gave none).
  [[nodiscard]] virtual std::unique_ptr<CounterSubscription> createSubscription(
      const ChannelSet& channels, std::unique_ptr<ChannelSet>& subscribed) = 0;

  // A snapshot of every subscribed counter; null when it cannot be taken.
  [[nodiscard]] virtual std::unique_ptr<RawSample> createSamples(
      const CounterSubscription& subscription, const ChannelSet& subscribed) = 0;

  // The per-channel differences from `earlier` to `later`; absent on failure.
  [[nodiscard]] virtual std::optional<CounterDelta> createSamplesDelta(
      const RawSample& earlier, const RawSample& later) = 0;
};

}  // namespace calorim
