#pragma once
// The JSON form of the measurement records (core/records.h).
//
// Writing: each field under its own name, in declaration order, compact;
// `cpuTemp`/`gpuTemp` only when present (never null); timestamps as ISO 8601
// text in UTC with whole seconds and a trailing Z ("2025-01-31T12:34:56Z").
// A non-finite number cannot be written: the write throws std::domain_error.
//
// Reading is strict: every key is required except `cpuTemp`/`gpuTemp` (missing
// or null means absent); a missing key, a value of the wrong type, a number that
// does not fit or a malformed date fails the whole read with a
// nlohmann::json::exception (out_of_range 403 for a missing key, type_error 302
// for a wrong value). Unknown keys are ignored, and so is the order of keys.
//
// Both directions go through nlohmann's `adl_serializer`, so `Json j = record;`
// and `j.get<PowerSnapshot>()` (lists included) work directly.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/process_power.h"
#include "core/records.h"
#include "core/service_records.h"
#include "core/system_info.h"

namespace calorim {

// Keeps keys in the order they were written; `nlohmann::json` would sort them.
using Json = nlohmann::ordered_json;

// Returns `value` when it is finite; otherwise throws std::domain_error naming
// `key` (nlohmann/json would silently write NaN or inf as null).
double finiteOrThrow(double value, const char* key);

// ISO 8601 UTC with whole seconds and a trailing Z; a sub-second part is
// dropped toward the past (1969-12-31T23:59:59.5Z becomes ...:59Z). Never throws.
[[nodiscard]] std::string formatIsoDate(std::chrono::system_clock::time_point time);

// Reads "YYYY-MM-DDTHH:MM:SS" followed by "Z" or an offset "+hh:mm" / "-hh:mm".
// Every field is range-checked (day against its month, no leap second); any
// other text, fractional seconds included, gives std::nullopt, as does an
// instant the system clock cannot represent. Never throws.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point> parseIsoDate(
    std::string_view text);

// Compact JSON text of a record, as the MCP server sends it. Throws
// std::domain_error for a non-finite number.
template <class T>
[[nodiscard]] std::string toJsonText(const T& value) {
  const Json json = value;
  return json.dump();
}

// The processes using the CPU's power, as calorim-probe's "power_top_processes"
// answers and calorim-top's JSON lines carry them: the interval, the method,
// the CPU power shared out, the processes kept (pid, name, cpuPercent, powerW,
// energyJ) and the power of all the others. Throws std::domain_error for a
// non-finite number.
[[nodiscard]] Json topProcessesJson(const ProcessAttribution& attribution);

// Deepest nesting of arrays and objects that text from outside may have;
// legitimate input stays far below it.
inline constexpr int kMaxJsonDepth = 64;

// The one reader of JSON text from outside the process. `text` must hold
// exactly one JSON value (surrounding whitespace aside) nested at most
// kMaxJsonDepth deep; anything after the value, a NUL byte included, makes it
// invalid. Deeper text is refused before any value is built, so hostile input
// can never exhaust the stack. Throws Json::parse_error.
[[nodiscard]] Json parseJson(std::string_view text);

// As `parseJson`, but gives std::nullopt instead of throwing.
[[nodiscard]] std::optional<Json> readJson(std::string_view text) noexcept;

// Parses `text` and reads a `T` from it. Throws nlohmann::json::exception for
// text that is not JSON or does not hold a valid `T`.
template <class T>
[[nodiscard]] T fromJsonText(std::string_view text) {
  return parseJson(text).template get<T>();
}

}  // namespace calorim

NLOHMANN_JSON_NAMESPACE_BEGIN

template <>
struct adl_serializer<calorim::MemoryBandwidth> {
  static void to_json(calorim::Json& j, const calorim::MemoryBandwidth& value);
  static calorim::MemoryBandwidth from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::FanInfo> {
  static void to_json(calorim::Json& j, const calorim::FanInfo& value);
  static calorim::FanInfo from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::ChannelPower> {
  static void to_json(calorim::Json& j, const calorim::ChannelPower& value);
  static calorim::ChannelPower from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::EnergyBreakdown> {
  static void to_json(calorim::Json& j, const calorim::EnergyBreakdown& value);
  static calorim::EnergyBreakdown from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::PowerSnapshot> {
  static void to_json(calorim::Json& j, const calorim::PowerSnapshot& value);
  static calorim::PowerSnapshot from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::EnergyMetrics> {
  static void to_json(calorim::Json& j, const calorim::EnergyMetrics& value);
  static calorim::EnergyMetrics from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::SystemInfo> {
  static void to_json(calorim::Json& j, const calorim::SystemInfo& value);
  static calorim::SystemInfo from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::ThrottleStatus> {
  static void to_json(calorim::Json& j, const calorim::ThrottleStatus& value);
  static calorim::ThrottleStatus from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::HeadroomStatus> {
  static void to_json(calorim::Json& j, const calorim::HeadroomStatus& value);
  static calorim::HeadroomStatus from_json(const calorim::Json& j);
};

template <>
struct adl_serializer<calorim::CooldownResult> {
  static void to_json(calorim::Json& j, const calorim::CooldownResult& value);
  static calorim::CooldownResult from_json(const calorim::Json& j);
};

NLOHMANN_JSON_NAMESPACE_END
