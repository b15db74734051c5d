// The counter-reports port over the IOReport library (/usr/lib/libIOReport.dylib).

#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/platform/darwin/cf_values.h"
#include "core/platform/darwin/darwin_platform.h"
#include "core/platform/darwin/darwin_values.h"
#include "core/platform/darwin/handles.h"

// The library has no header; these are the shapes of the functions used.
extern "C" {
typedef struct __IOReportSubscriptionCF* IOReportSubscriptionRef;
typedef CFDictionaryRef IOReportSampleRef;
CFMutableDictionaryRef IOReportCopyChannelsInGroup(CFStringRef group, CFStringRef subgroup, uint64_t, uint64_t,
                                                   uint64_t);
void IOReportMergeChannels(CFMutableDictionaryRef target, CFMutableDictionaryRef source, CFTypeRef);
IOReportSubscriptionRef IOReportCreateSubscription(void*, CFMutableDictionaryRef channels,
                                                   CFMutableDictionaryRef* subscribed, uint64_t, CFTypeRef);
CFDictionaryRef IOReportCreateSamples(IOReportSubscriptionRef, CFMutableDictionaryRef subscribed, CFTypeRef);
CFDictionaryRef IOReportCreateSamplesDelta(CFDictionaryRef earlier, CFDictionaryRef later, CFTypeRef);
CFStringRef IOReportChannelGetGroup(IOReportSampleRef);
CFStringRef IOReportChannelGetSubGroup(IOReportSampleRef);
CFStringRef IOReportChannelGetChannelName(IOReportSampleRef);
CFStringRef IOReportChannelGetUnitLabel(IOReportSampleRef);
uint8_t IOReportChannelGetFormat(IOReportSampleRef);
int64_t IOReportSimpleGetIntegerValue(IOReportSampleRef, int32_t*);
int32_t IOReportStateGetCount(IOReportSampleRef);
CFStringRef IOReportStateGetNameForIndex(IOReportSampleRef, int32_t index);
int64_t IOReportStateGetResidency(IOReportSampleRef, int32_t index);
}

namespace calorim::darwin {
namespace {

struct IOReportChannelSet final : ChannelSet {
  explicit IOReportChannelSet(CFMutableDictionaryRef channels) : dictionary(channels) {}
  CfRef<CFMutableDictionaryRef> dictionary;
};

struct IOReportSubscription final : CounterSubscription {
  explicit IOReportSubscription(IOReportSubscriptionRef handle) : subscription(handle) {}
  CfRef<IOReportSubscriptionRef> subscription;
};

struct IOReportRawSample final : RawSample {
  explicit IOReportRawSample(CFDictionaryRef sample) : samples(sample) {}
  CfRef<CFDictionaryRef> samples;
};

std::string textOrEmpty(CFStringRef string) { return cfText(string).value_or(std::string()); }

// The library's channel accessors, for readChannel.
struct SampleReader {
  static int format(IOReportSampleRef s) { return IOReportChannelGetFormat(s); }
  static std::string group(IOReportSampleRef s) { return textOrEmpty(IOReportChannelGetGroup(s)); }
  static std::string subgroup(IOReportSampleRef s) { return textOrEmpty(IOReportChannelGetSubGroup(s)); }
  static std::string name(IOReportSampleRef s) { return textOrEmpty(IOReportChannelGetChannelName(s)); }
  static std::string unitLabel(IOReportSampleRef s) { return textOrEmpty(IOReportChannelGetUnitLabel(s)); }
  static std::int64_t value(IOReportSampleRef s) { return IOReportSimpleGetIntegerValue(s, nullptr); }
  static std::int32_t stateCount(IOReportSampleRef s) { return IOReportStateGetCount(s); }
  static std::string stateName(IOReportSampleRef s, std::int32_t i) {
    return textOrEmpty(IOReportStateGetNameForIndex(s, i));
  }
  static std::int64_t residency(IOReportSampleRef s, std::int32_t i) { return IOReportStateGetResidency(s, i); }
};

class IOReportCounters final : public CounterReportPort {
 public:
  std::unique_ptr<ChannelSet> copyChannelsInGroup(std::string_view group,
                                                  std::optional<std::string_view> subgroup) override {
    const CfRef<CFStringRef> groupName = makeCfString(group);
    CfRef<CFStringRef> subgroupName;
    if (subgroup) subgroupName = makeCfString(*subgroup);
    if (!groupName || (subgroup && !subgroupName)) return nullptr;
    CFMutableDictionaryRef channels = IOReportCopyChannelsInGroup(groupName.get(), subgroupName.get(), 0, 0, 0);
    if (channels == nullptr) return nullptr;
    return std::make_unique<IOReportChannelSet>(channels);
  }

  void mergeChannels(ChannelSet& target, const ChannelSet& source) override {
    auto* into = dynamic_cast<IOReportChannelSet*>(&target);
    const auto* from = dynamic_cast<const IOReportChannelSet*>(&source);
    if (into == nullptr || from == nullptr) return;
    IOReportMergeChannels(into->dictionary.get(), from->dictionary.get(), nullptr);
  }

  std::unique_ptr<CounterSubscription> createSubscription(const ChannelSet& channels,
                                                          std::unique_ptr<ChannelSet>& subscribed) override {
    subscribed = nullptr;
    const auto* set = dynamic_cast<const IOReportChannelSet*>(&channels);
    if (set == nullptr) return nullptr;
    CFMutableDictionaryRef subscribedChannels = nullptr;
    IOReportSubscriptionRef handle =
        IOReportCreateSubscription(nullptr, set->dictionary.get(), &subscribedChannels, 0, nullptr);
    if (subscribedChannels != nullptr) subscribed = std::make_unique<IOReportChannelSet>(subscribedChannels);
    if (handle == nullptr) return nullptr;
    return std::make_unique<IOReportSubscription>(handle);
  }

  std::unique_ptr<RawSample> createSamples(const CounterSubscription& subscription,
                                           const ChannelSet& subscribed) override {
    const auto* sub = dynamic_cast<const IOReportSubscription*>(&subscription);
    const auto* set = dynamic_cast<const IOReportChannelSet*>(&subscribed);
    if (sub == nullptr || set == nullptr) return nullptr;
    CFDictionaryRef sample = IOReportCreateSamples(sub->subscription.get(), set->dictionary.get(), nullptr);
    if (sample == nullptr) return nullptr;
    return std::make_unique<IOReportRawSample>(sample);
  }

  std::optional<CounterDelta> createSamplesDelta(const RawSample& earlier, const RawSample& later) override {
    const auto* a = dynamic_cast<const IOReportRawSample*>(&earlier);
    const auto* b = dynamic_cast<const IOReportRawSample*>(&later);
    if (a == nullptr || b == nullptr) return std::nullopt;
    const CfRef<CFDictionaryRef> delta(IOReportCreateSamplesDelta(a->samples.get(), b->samples.get(), nullptr));
    if (!delta) return std::nullopt;
    CounterDelta channels;
    // The delta's channels, in channel order: what IOReportIterate walks.
    const CFTypeRef list = CFDictionaryGetValue(delta.get(), CFSTR("IOReportChannels"));
    if (list == nullptr || CFGetTypeID(list) != CFArrayGetTypeID()) return channels;
    const auto array = static_cast<CFArrayRef>(list);
    const CFIndex count = CFArrayGetCount(array);
    channels.reserve(static_cast<std::size_t>(std::max<CFIndex>(count, 0)));
    for (CFIndex i = 0; i < count; ++i) {
      const CFTypeRef sample = CFArrayGetValueAtIndex(array, i);
      if (sample == nullptr || CFGetTypeID(sample) != CFDictionaryGetTypeID()) continue;
      std::optional<Channel> channel = readChannel(SampleReader{}, static_cast<IOReportSampleRef>(sample));
      if (channel) channels.push_back(std::move(*channel));
    }
    return channels;
  }
};

}  // namespace

std::unique_ptr<CounterReportPort> makeCounterReports() { return std::make_unique<IOReportCounters>(); }

}  // namespace calorim::darwin
