// Feeds arbitrary bytes to the readers of the measurement records. Every input
// that reads as a record must write without error and read back as an equal
// record; anything else (a crash, an exception other than a JSON error, a
// mismatch) is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/records.h"

namespace {

[[noreturn]] void mismatch(const char* what, const std::string& text) {
  std::fprintf(stderr, "%s did not survive a round trip: %s\n", what, text.c_str());
  std::abort();
}

template <class Record>
void checkRoundTrip(const calorim::Json& json, const char* what) {
  std::optional<Record> first;
  try {
    first.emplace(json.get<Record>());
  } catch (const nlohmann::json::exception&) {
    return;  // rejected input: the expected answer to most of it
  }
  // A record that was read holds only finite numbers and whole seconds, so its
  // write must not throw; let any exception escape as a finding.
  const std::string text = calorim::toJsonText(*first);
  if (!(calorim::fromJsonText<Record>(text) == *first)) mismatch(what, text);
}

void checkDate(const calorim::Json& json) {
  if (!json.is_string()) return;
  const auto time = calorim::parseIsoDate(json.get_ref<const std::string&>());
  if (!time) return;
  const std::string text = calorim::formatIsoDate(*time);
  if (calorim::parseIsoDate(text) != time) mismatch("date", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  calorim::Json json;
  try {
    json = calorim::parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const nlohmann::json::exception&) {
    return 0;
  }
  checkRoundTrip<calorim::PowerSnapshot>(json, "PowerSnapshot");
  checkRoundTrip<calorim::MemoryBandwidth>(json, "MemoryBandwidth");
  checkRoundTrip<calorim::FanInfo>(json, "FanInfo");
  checkRoundTrip<calorim::ChannelPower>(json, "ChannelPower");
  checkRoundTrip<calorim::EnergyBreakdown>(json, "EnergyBreakdown");
  checkRoundTrip<calorim::EnergyMetrics>(json, "EnergyMetrics");
  checkDate(json);
  return 0;
}
