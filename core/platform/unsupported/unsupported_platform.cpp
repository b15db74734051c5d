#include "core/platform/unsupported/unsupported_platform.h"

namespace calorim {
namespace {

class NoCounters final : public CounterReportPort {
 public:
  std::unique_ptr<ChannelSet> copyChannelsInGroup(std::string_view, std::optional<std::string_view>) override {
    return nullptr;
  }
  void mergeChannels(ChannelSet&, const ChannelSet&) override {}
  std::unique_ptr<CounterSubscription> createSubscription(const ChannelSet&,
                                                          std::unique_ptr<ChannelSet>& subscribed) override {
    subscribed = nullptr;
    return nullptr;
  }
  std::unique_ptr<RawSample> createSamples(const CounterSubscription&, const ChannelSet&) override { return nullptr; }
  std::optional<CounterDelta> createSamplesDelta(const RawSample&, const RawSample&) override { return std::nullopt; }
};

class NoRegistry final : public RegistryPort {
 public:
  std::vector<std::unique_ptr<RegistryService>> matchingServices(std::string_view) override { return {}; }
  std::optional<RegistryDictionary> properties(const RegistryService&) override { return std::nullopt; }
  std::optional<RegistryValue> property(const RegistryService&, std::string_view) override { return std::nullopt; }
};

class NoSmc final : public SmcPort {
 public:
  std::unique_ptr<SmcConnection> open() override { return nullptr; }
};

class NoHid final : public HidPort {
 public:
  std::unique_ptr<HidClient> createClient() override { return nullptr; }
};

class NoHost final : public HostPort {
 public:
  std::optional<std::vector<CpuTicks>> processorTicks() override { return std::nullopt; }
  std::optional<std::string> systemText(std::string_view) override { return std::nullopt; }
  std::optional<std::int64_t> systemInteger(std::string_view) override { return std::nullopt; }
  std::optional<std::uint64_t> memoryUsedBytes() override { return std::nullopt; }
  std::optional<std::uint64_t> swapUsedBytes() override { return std::nullopt; }
  std::optional<OsVersion> osVersion() override { return std::nullopt; }
};

class NoHardwareReport final : public HardwareReportPort {
 public:
  std::optional<std::string> report(std::string_view) override { return std::nullopt; }
};

class NoProcesses final : public ProcessPort {
 public:
  std::optional<ProcessTable> processes() override { return std::nullopt; }
  std::optional<CgroupTable> cgroups(int) override { return std::nullopt; }
};

}  // namespace

std::shared_ptr<Platform> makeUnsupportedPlatform() {
  auto platform = std::make_shared<Platform>();
  platform->counters = std::make_unique<NoCounters>();
  platform->registry = std::make_unique<NoRegistry>();
  platform->smc = std::make_unique<NoSmc>();
  platform->hid = std::make_unique<NoHid>();
  platform->host = std::make_unique<NoHost>();
  platform->hardwareReport = std::make_unique<NoHardwareReport>();
  platform->processes = std::make_unique<NoProcesses>();
  platform->clock = std::make_unique<SystemClock>();
  return platform;
}

}  // namespace calorim
