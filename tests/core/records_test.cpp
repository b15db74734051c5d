#include "core/records.h"

#include <chrono>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/json.h"
#include "core/service_records.h"
#include "core/system_info.h"
#include "tests/core/line_cases.h"

namespace calorim {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

system_clock::time_point at(sys_days day, seconds timeOfDay = 0s) {
  return system_clock::time_point{day} + timeOfDay;
}

EnergyBreakdown sampleBreakdown(std::vector<ChannelPower> domains = {}) {
  return {{{"ECPU000", 0.125}, {"PCPU100", 0.75}},
          {{"EACC_CPU", 0.25}, {"PACC0_CPU", 1.5}},
          2.0, 1.25, 1.0, 0.5, 0.75, 0.0625, 0.03125, 0.5, 0.0, 0.375, 0.0, 0.25,
          {{"DTL0", 0.1}},
          {{"SOC_AON", 0.2}},
          std::move(domains)};
}

// `platform` also gives the breakdown a machine's own domains, that one among them.
PowerSnapshot sampleSnapshot(system_clock::time_point timestamp, std::optional<double> cpuTemp,
                             std::optional<double> gpuTemp, std::vector<FanInfo> fans,
                             std::optional<double> platform = {}) {
  std::vector<ChannelPower> domains;
  if (platform) domains = {{"Package", 12.5}, {"Cores", 5.0}, {"Platform", *platform}};
  return {timestamp, 1.0, 2.0, 1.25, 0.5, 0.75, 6.0, 0.4, 1.6, cpuTemp, gpuTemp,
          {48.5, 51.25}, 0.35, 0.2, 0.1, 0.45, {0.5, 0.25, 0.0, 1.0}, 912.5,
          MemoryBandwidth::zero(), std::move(fans), sampleBreakdown(std::move(domains)), platform};
}

// The exact texts of the records are in the probe's golden transcripts.
TEST(Records, SocTotalSumsOnlyTheChipDomains) {
  const auto breakdown = [](double gpu, double gpuEnergy, std::vector<ChannelPower> other) {
    return EnergyBreakdown({{"PCPU0", 9}}, {{"PACC_CPU", 9}}, 0, gpu, gpuEnergy, 0, 0, 0, 0, 0,
                           0, 0, 0, 0, {{"DTL0", 9}}, std::move(other), {{"Package", 9}, {"Platform", 9}});
  };
  // gpuEnergy, the per-core/cluster lists, the dtl channels and the machine's
  // own domains (which overlap the rest) are left out.
  EXPECT_EQ(breakdown(0, 4.0, {}).socTotal(), 0.0);
  EXPECT_DOUBLE_EQ(breakdown(2.5, 4.0, {{"SOC_AON", 0.5}}).socTotal(), 3.0);
  EXPECT_EQ(EnergyBreakdown::empty().socTotal(), 0.0);

  // The addition order is fixed: here 1 vanishes into 2^53 before -2^53 is added,
  // and the 0.5 of `other` joins last. Any other order gives 1.5 or 2.
  const double big = 9007199254740992.0;
  const EnergyBreakdown ordered({}, {}, 1.0, big, 0, -big, 0, 0, 0, 0, 0, 0, 0, 0, {},
                                {{"A", 0.25}, {"B", 0.25}}, {});
  EXPECT_EQ(ordered.socTotal(), 0.5);

  // Every named domain counts once: 2.0+1.25+0.5+0.75+0.0625+0.03125+0.5+0+0.375+0+0.25, + 0.2.
  EXPECT_DOUBLE_EQ(sampleBreakdown().socTotal(), 5.71875 + 0.2);
  EXPECT_EQ(MemoryBandwidth(0, 0, 0, 0, 0, 0, 1.5, 2.25).totalGBs(), 3.75);
}

TEST(Records, EnergyMetricsAveragesAreZeroWithoutPositiveDuration) {
  for (double duration : {0.0, -1.0, kNaN}) {
    const EnergyMetrics metrics(duration, 10, 20, 30, 40, 100);
    EXPECT_EQ(metrics.cpuPowerAvg(), 0.0) << duration;
    EXPECT_EQ(metrics.gpuPowerAvg(), 0.0) << duration;
    EXPECT_EQ(metrics.anePowerAvg(), 0.0) << duration;
    EXPECT_EQ(metrics.totalPowerAvg(), 0.0) << duration;
  }
  const EnergyMetrics metrics(4.0, 10, 20, 30, 40, 100);
  EXPECT_EQ(metrics.cpuPowerAvg(), 2.5);
  EXPECT_EQ(metrics.gpuPowerAvg(), 5.0);
  EXPECT_EQ(metrics.anePowerAvg(), 7.5);
  EXPECT_EQ(metrics.totalPowerAvg(), 25.0);
}

TEST(Records, RoundTripIsEqualToWholeSeconds) {
  const auto whole = at(sys_days{2025y / January / 31}, 12h + 34min + 56s);
  const PowerSnapshot written = sampleSnapshot(whole + 789ms, 61.5, {}, {{1, 2000.0}});
  const auto read = fromJsonText<PowerSnapshot>(toJsonText(written));
  EXPECT_EQ(read, sampleSnapshot(whole, 61.5, {}, {{1, 2000.0}}));
  EXPECT_FALSE(read.gpuTemp().has_value());

  // A machine's own domains and its platform power travel where it has them,
  // and are not written where it has none.
  const PowerSnapshot pc = sampleSnapshot(whole, 61.5, {}, {}, 20.25);
  const Json pcJson = pc;
  EXPECT_EQ(pcJson.at("platformPower"), 20.25);
  EXPECT_EQ(pcJson.at("energyBreakdown").at("domains").size(), 3u);
  EXPECT_EQ(fromJsonText<PowerSnapshot>(toJsonText(pc)), pc);
  const Json chip = written;
  EXPECT_FALSE(chip.contains("platformPower"));
  EXPECT_FALSE(chip.at("energyBreakdown").contains("domains"));

  // Before 1970 the sub-second part still goes toward the past.
  const auto early = system_clock::time_point{} - 1500ms;
  EXPECT_EQ(formatIsoDate(early), "1969-12-31T23:59:58Z");
  EXPECT_EQ(fromJsonText<PowerSnapshot>(toJsonText(sampleSnapshot(early, {}, {}, {}))).timestamp(),
            system_clock::time_point{} - 2s);

  const EnergyMetrics metrics(0.1 + 0.2, 1e-300, 1.7976931348623157e308, -0.5, 3, 123456.789);
  EXPECT_EQ(fromJsonText<EnergyMetrics>(toJsonText(metrics)), metrics);
}

TEST(Records, NonFiniteNumbersAreNotWritten) {
  const auto time = system_clock::time_point{};
  EXPECT_THROW((void)toJsonText(FanInfo(0, kNaN)), std::domain_error);
  EXPECT_THROW((void)toJsonText(EnergyMetrics(1, kInf, 0, 0, 0, 0)), std::domain_error);
  EXPECT_THROW((void)toJsonText(sampleSnapshot(time, -kInf, {}, {})), std::domain_error);
  EXPECT_THROW((void)toJsonText(PowerSnapshot(time, 1, 0, 0, 0, 0, 0, 0, 0, {}, {}, {40, kNaN}, 0,
                                              0, 0, 0, {}, 0, MemoryBandwidth::zero(), {},
                                              EnergyBreakdown::empty(), std::nullopt)),
               std::domain_error);
  const EnergyBreakdown nested({}, {}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}, {{"X", kNaN}}, {});
  EXPECT_THROW((void)toJsonText(nested), std::domain_error);
  EXPECT_THROW((void)toJsonText(sampleSnapshot(time, {}, {}, {}, kInf)), std::domain_error);
  EXPECT_EQ(finiteOrThrow(-0.5, "k"), -0.5);
}

TEST(Records, ReadingRejectsMissingKeysAndWrongTypes) {
  const Json good = sampleSnapshot(system_clock::time_point{}, 50.0, 45.0, {{0, 1000.0}});
  ASSERT_NO_THROW((void)good.get<PowerSnapshot>());

  const auto rejects = [&](const char* what, auto change) {
    Json changed = good;
    change(changed);
    EXPECT_THROW((void)changed.get<PowerSnapshot>(), nlohmann::json::exception) << what;
  };
  rejects("missing duration", [](Json& j) { j.erase("duration"); });
  rejects("missing nested key", [](Json& j) { j["memBandwidth"].erase("totalWriteGBs"); });
  rejects("bool for real", [](Json& j) { j["cpuPower"] = true; });
  rejects("bool for optional real", [](Json& j) { j["cpuTemp"] = false; });
  rejects("string for real", [](Json& j) { j["gpuUsage"] = "0.5"; });
  rejects("fractional fan id", [](Json& j) { j["fans"][0]["id"] = 1.5; });
  rejects("integral float fan id", [](Json& j) { j["fans"][0]["id"] = 1.0; });
  rejects("fan id beyond int64", [](Json& j) { j["fans"][0]["id"] = 9223372036854775808ull; });
  rejects("string for list", [](Json& j) { j["coreTemps"] = "48.5"; });
  rejects("bool in real list", [](Json& j) { j["cpuUsagePerCore"][1] = true; });
  rejects("number for channel", [](Json& j) { j["energyBreakdown"]["other"][0] = 0.2; });
  rejects("number for domains", [](Json& j) { j["energyBreakdown"]["domains"] = 1; });
  rejects("string for platform power", [](Json& j) { j["platformPower"] = "20"; });
  rejects("number for name", [](Json& j) { j["energyBreakdown"]["cpuCores"][0]["name"] = 7; });
  rejects("array for record", [](Json& j) { j["memBandwidth"] = Json::array(); });
  rejects("number for date", [](Json& j) { j["timestamp"] = 0; });
  rejects("bad date", [](Json& j) { j["timestamp"] = "2025-13-01T00:00:00Z"; });

  // Integers are fine wherever a real is expected; the largest int64 is a valid id;
  // a null or missing temperature is absent.
  Json integral = good;
  integral["cpuPower"] = 3;
  integral["fans"][0]["id"] = std::numeric_limits<std::int64_t>::max();
  integral["cpuTemp"] = nullptr;
  integral.erase("gpuTemp");
  const auto read = integral.get<PowerSnapshot>();
  EXPECT_EQ(read.cpuPower(), 3.0);
  EXPECT_EQ(read.fans()[0].id(), std::numeric_limits<std::int64_t>::max());
  EXPECT_FALSE(read.cpuTemp() || read.gpuTemp());
  EXPECT_THROW((void)fromJsonText<FanInfo>(R"({"id":-1,"rpm":1e400})"), nlohmann::json::exception);
  EXPECT_THROW((void)fromJsonText<EnergyMetrics>("[]"), nlohmann::json::exception);
}

TEST(Records, OutsideTextIsOneValueNestedAtMost64Deep) {
  const auto nested = [](int depth, const char* open = "[", const char* close = "]") {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    text += "1";
    for (int i = 0; i < depth; ++i) text += close;
    return text;
  };
  const std::pair<std::string, bool> cases[] = {
      {nested(64), true},
      {nested(65), false},
      {nested(100'000), false},
      {nested(63, R"({"a":)", "}"), true},
      {nested(100'000, R"({"a":)", "}"), false},
      {std::string(100'000, '['), false},  // never closed
      {R"({"a":")" + std::string(100, '[') + R"(\"["})", true},  // brackets inside strings do not count
      {" {\"a\":1}\r\n", true},
      {R"({"a":1} {"b":2})", false},
      {std::string("{\"a\":1}\0", 8), false},
      {std::string("{\"a\":1}\0{}", 10), false},
      {std::string("{\"a\":\"x\0\"}", 10), false},
  };
  for (const auto& [text, valid] : cases) {
    EXPECT_EQ(readJson(text).has_value(), valid) << text.substr(0, 80);
    if (!valid) {
      EXPECT_THROW((void)parseJson(text), Json::parse_error) << text.substr(0, 80);
    }
  }
  EXPECT_THROW((void)fromJsonText<FanInfo>(R"({"id":1,"rpm":2,"x":)" + nested(100'000) + "}"), Json::parse_error);
  EXPECT_EQ(fromJsonText<FanInfo>(R"({"id":1,"rpm":2,"x":)" + nested(62) + "}").id(), 1);
}

TEST(Records, IsoDatesParseOffsetsAndRejectMalformedText) {
  EXPECT_LINE_CASES(GOLDEN_DIR "/iso_date_cases.txt", [](const std::string& text) {
    const auto date = parseIsoDate(text);
    return date ? formatIsoDate(*date) : std::string("refused");
  });
  EXPECT_FALSE(parseIsoDate("").has_value());
  EXPECT_EQ(parseIsoDate("2025-01-31T12:00:00Z"), at(sys_days{2025y / January / 31}, 12h));
  EXPECT_EQ(formatIsoDate(at(sys_days{1900y / March / 1}, 1s)), "1900-03-01T00:00:01Z");
  EXPECT_EQ(formatIsoDate(at(sys_days{2025y / January / 31}, 12h) + 999ms), "2025-01-31T12:00:00Z");
}

// The texts of a missing group and of a failed subscription are the sampler's tests.
TEST(Records, PMErrorCasesHaveFixedTexts) {
  EXPECT_EQ(PMError::channelNotFound("Energy Model").group(), "Energy Model");
  EXPECT_TRUE(PMError::sampleFailed().group().empty());
  EXPECT_EQ(PMError::sampleFailed().caseName(), "sampleFailed");
  const PMError smc = PMError::smcConnectionFailed();
  EXPECT_EQ(smc.description() + "|" + smc.what() + "|" + smc.caseName(),
            "Failed to connect to SMC|Failed to connect to SMC|smcConnectionFailed");
}

// The records' exact texts are in the probe's golden transcripts and the
// service's golden steps; here reading them back.
TEST(ServiceRecordsJson, RoundTripsAndStrictReading) {
  const ThrottleStatus throttle(true, 70, 70, 400, 0.6, "freq_drop");
  EXPECT_EQ(fromJsonText<ThrottleStatus>(toJsonText(throttle)), throttle);
  const HeadroomStatus headroom(50, 35, 100, false, false);
  EXPECT_EQ(fromJsonText<HeadroomStatus>(toJsonText(headroom)), headroom);
  const CooldownResult cooldown(false, 0, 60);
  EXPECT_EQ(fromJsonText<CooldownResult>(toJsonText(cooldown)), cooldown);
  const SystemInfo info("Chip", 4, 8, 10, 24.0, "Unknown Mac", "Linux 6.1.0");
  EXPECT_EQ(fromJsonText<SystemInfo>(toJsonText(info)), info);

  EXPECT_THROW((void)fromJsonText<CooldownResult>(R"({"cooledDown":1,"finalTemp":0,"waitedSeconds":1})"),
               Json::exception);
  EXPECT_THROW((void)fromJsonText<SystemInfo>(R"({"chipName":"x","eCores":1.5,"pCores":1,"gpuCores":1,)"
                                              R"("totalMemoryGB":1,"machineName":"m","osVersion":"o"})"),
               Json::exception);
  EXPECT_THROW((void)fromJsonText<SystemInfo>(R"({"chipName":"x","eCores":1,"pCores":1,"gpuCores":1,)"
                                              R"("totalMemoryGB":1,"machineName":"m"})"),
               Json::exception);
  EXPECT_THROW((void)fromJsonText<ThrottleStatus>(
                   R"({"throttling":true,"cpuTemp":1,"gpuTemp":1,"gpuFreqMHz":1,"gpuUsage":1,"reason":5})"),
               Json::exception);
  EXPECT_THROW((void)toJsonText(HeadroomStatus(kNaN, 35, 0, true, true)), std::domain_error);
}

}  // namespace
}  // namespace calorim
