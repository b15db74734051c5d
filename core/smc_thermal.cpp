#include "core/smc_thermal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <span>

#include "core/base/little_endian.h"

namespace calorim {

namespace {

using smc::kBytesOffset;
using smc::kCommandOffset;
using smc::kDataSizeOffset;
using smc::kDataTypeOffset;
using smc::kKeyOffset;

constexpr std::uint32_t kTypeSp78 = smc::keyCode("sp78");
constexpr std::uint32_t kTypeFlt = smc::keyCode("flt ");

// Readings outside this open interval are not plausible die temperatures.
constexpr double kProbeLow = 15.0;
constexpr double kProbeHigh = 110.0;
constexpr int kProbeReads = 5;
constexpr int kProbeMinKept = 3;
constexpr double kProbeSleepSeconds = 0.05;
constexpr double kCpuMaxSpread = 20.0;
constexpr double kGpuMaxSpread = 30.0;
// A sensor reading this or less is unpopulated or broken.
constexpr double kValidAbove = 5.0;

}  // namespace

namespace detail {

// Keys are case-sensitive, and machines differ in the case of their hex
// digits: each number's lower-case key, then its upper-case one when that
// differs.
std::vector<std::string> numberedKeys(std::string_view prefix, int count) {
  static constexpr std::string_view kLower = "0123456789abcdef";
  static constexpr std::string_view kUpper = "0123456789ABCDEF";
  std::vector<std::string> keys;
  keys.reserve(static_cast<std::size_t>(count) * 2);
  for (int i = 0; i < count && i < 256; ++i) {
    const auto key = [&](std::string_view digits) {
      return std::string(prefix) + digits[static_cast<std::size_t>(i / 16)] + digits[static_cast<std::size_t>(i % 16)];
    };
    keys.push_back(key(kLower));
    if (key(kUpper) != keys.back()) keys.push_back(key(kUpper));
  }
  return keys;
}

}  // namespace detail

namespace {

std::string fanKey(std::int64_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "F%lldAc", static_cast<long long>(index));
  return name;
}

}  // namespace

namespace detail {

double decodeSp78(std::uint8_t high, std::uint8_t low) {
  const auto raw = static_cast<std::int16_t>(static_cast<std::uint16_t>(high << 8 | low));
  return raw / 256.0;
}

std::optional<double> decodeFlt(const std::uint8_t* bytes) {
  const auto value = static_cast<double>(std::bit_cast<float>(loadLE32(std::span(bytes, 4), 0)));
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace detail

SMCThermal::SMCThermal(SmcPort& smc, ClockPort& clock, const StopToken& stop) : clock_(clock), connection_(smc.open()) {
  if (!connection_) return;

  cpuKeys_ = probeKeys(detail::numberedKeys("Tp", 20), kCpuMaxSpread, stop);
  gpuKeys_ = probeKeys(detail::numberedKeys("Tg", 16), kGpuMaxSpread, stop);
  lastCpu_ = highestOf(cpuKeys_);
  lastGpu_ = highestOf(gpuKeys_);

  if (auto info = getKeyInfo("FNum")) {
    keyInfoCache_[smc::keyCode("FNum")] = *info;
    if (auto count = readSMCRaw("FNum", info->dataSize)) fanCount_ = *count;
  }
  for (std::int64_t i = 0; i < fanCount_; ++i) {
    const std::string key = fanKey(i);
    if (auto info = getKeyInfo(key)) keyInfoCache_[smc::keyCode(key)] = *info;
  }
}

ThermalReading SMCThermal::read() {
  if (!connection_) return {};
  if (auto cpu = medianOf(cpuKeys_)) lastCpu_ = cpu;
  if (auto gpu = medianOf(gpuKeys_)) lastGpu_ = gpu;

  std::vector<FanReading> fans;
  for (std::int64_t i = 0; i < fanCount_; ++i) {
    if (auto rpm = readSMCTempCached(fanKey(i)); rpm && *rpm >= 0) fans.push_back({i, *rpm});
  }
  return {lastCpu_, lastGpu_, std::move(fans)};
}

std::optional<SmcParamBlock> SMCThermal::call(std::string_view key, std::uint8_t command, std::uint32_t dataSize) {
  if (!connection_) return std::nullopt;
  SmcParamBlock input{};
  storeLE32(input, kKeyOffset, smc::keyCode(key));
  storeLE32(input, kDataSizeOffset, dataSize);
  input[kCommandOffset] = command;
  std::optional<SmcParamBlock> output = connection_->call(smc::kSelector, input);
  if (output && (*output)[smc::kResultOffset] != 0) return std::nullopt;
  return output;
}

std::optional<SMCThermal::KeyInfo> SMCThermal::getKeyInfo(std::string_view key) {
  auto out = call(key, smc::kReadKeyInfo, 0);
  if (!out) return std::nullopt;
  KeyInfo info{loadLE32(*out, kDataSizeOffset), loadLE32(*out, kDataTypeOffset)};
  if (info.dataSize == 0) return std::nullopt;
  return info;
}

std::optional<std::uint8_t> SMCThermal::readSMCRaw(std::string_view key, std::uint32_t size) {
  auto out = call(key, smc::kReadBytes, size);
  if (!out) return std::nullopt;
  return (*out)[kBytesOffset];
}

std::optional<double> SMCThermal::readSMCTemp(std::string_view key) {
  auto info = getKeyInfo(key);
  if (!info) return std::nullopt;
  auto out = call(key, smc::kReadBytes, info->dataSize);
  if (!out) return std::nullopt;
  return detail::decodeSp78((*out)[kBytesOffset], (*out)[kBytesOffset + 1]);
}

std::optional<double> SMCThermal::readSMCTempCached(std::string_view key) {
  auto it = keyInfoCache_.find(smc::keyCode(key));
  if (it == keyInfoCache_.end()) return readSMCTemp(key);
  auto out = call(key, smc::kReadBytes, it->second.dataSize);
  if (!out) return std::nullopt;
  if (it->second.dataType == kTypeFlt) return detail::decodeFlt(out->data() + kBytesOffset);
  return detail::decodeSp78((*out)[kBytesOffset], (*out)[kBytesOffset + 1]);
}

std::vector<std::string> SMCThermal::probeKeys(const std::vector<std::string>& candidates, double maxSpread,
                                               const StopToken& stop) {
  std::vector<std::string> accepted;
  for (const std::string& key : candidates) {
    if (stop.stopRequested()) break;
    auto info = getKeyInfo(key);
    if (!info) continue;
    const bool usable = (info->dataType == kTypeSp78 && info->dataSize == 2) ||
                        (info->dataType == kTypeFlt && info->dataSize == 4);
    if (!usable) continue;
    keyInfoCache_[smc::keyCode(key)] = *info;

    std::vector<double> kept;
    for (int i = 0; i < kProbeReads; ++i) {
      if (auto v = readSMCTempCached(key); v && *v > kProbeLow && *v < kProbeHigh) kept.push_back(*v);
      if (!clock_.sleep(kProbeSleepSeconds, stop)) return accepted;
    }
    if (static_cast<int>(kept.size()) < kProbeMinKept) continue;
    const auto [lo, hi] = std::minmax_element(kept.begin(), kept.end());
    if (*hi - *lo < maxSpread) accepted.push_back(key);
  }
  return accepted;
}

std::optional<double> SMCThermal::medianOf(const std::vector<std::string>& keys) {
  std::vector<double> values;
  for (const std::string& key : keys) {
    if (auto v = readSMCTempCached(key); v && *v > kValidAbove) values.push_back(*v);
  }
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  if (values.size() % 2 == 1) return values[mid];
  return (values[mid - 1] + values[mid]) / 2.0;
}

std::optional<double> SMCThermal::highestOf(const std::vector<std::string>& keys) {
  std::optional<double> highest;
  for (const std::string& key : keys) {
    if (auto v = readSMCTempCached(key); v && *v > kValidAbove && (!highest || *v > *highest)) highest = v;
  }
  return highest;
}

}  // namespace calorim
