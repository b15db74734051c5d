#include "core/service_records.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/json.h"
#include "core/system_info.h"

namespace calorim {
namespace {

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
  EXPECT_THROW((void)toJsonText(HeadroomStatus(std::nan(""), 35, 0, true, true)), std::domain_error);
}

}  // namespace
}  // namespace calorim
