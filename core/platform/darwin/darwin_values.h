#pragma once
// The decisions of the macOS backend that need no macOS: how registry values
// become the registry port's values, how a counter channel is read by its
// format, how the kernel's named values are read from their bytes, the system
// version text, and which report types may be asked of the system profiler. Portable, so that they are tested everywhere;
// the backend's files feed them from Core Foundation and sysctl.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/counter_report_port.h"
#include "core/platform/host_port.h"
#include "core/platform/registry_port.h"

namespace calorim::darwin {

// The formats a counter channel declares (the counter library's numbering).
inline constexpr int kChannelFormatSimple = 1;
inline constexpr int kChannelFormatState = 2;

// More states than any channel publishes; a larger count is not believed.
inline constexpr std::int32_t kMaxChannelStates = 4096;

// Reads one channel of a delta by the format it declares. `Reader` answers,
// for a channel `c`: `format(c)`; `group(c)`, `subgroup(c)`, `name(c)`,
// `unitLabel(c)` (text, empty when not given); `value(c)` (a simple
// channel's signed difference); `stateCount(c)`, `stateName(c, i)` and
// `residency(c, i)` (a state channel's states). A simple channel gives its
// value, a state channel its states (at most kMaxChannelStates); a channel of
// any other format (histograms, arrays) is absent: no part of it is read as
// something it is not.
template <class Reader, class C>
[[nodiscard]] std::optional<Channel> readChannel(const Reader& reader, C channel) {
  const int format = reader.format(channel);
  if (format != kChannelFormatSimple && format != kChannelFormatState) return std::nullopt;
  Channel result;
  result.group = reader.group(channel);
  result.subgroup = reader.subgroup(channel);
  result.name = reader.name(channel);
  result.unitLabel = reader.unitLabel(channel);
  if (format == kChannelFormatSimple) {
    result.value = reader.value(channel);
    return result;
  }
  const std::int32_t count = std::min(std::max<std::int32_t>(reader.stateCount(channel), 0), kMaxChannelStates);
  result.states.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    result.states.push_back(
        ChannelState{reader.stateName(channel, i), static_cast<std::uint64_t>(reader.residency(channel, i))});
  }
  return result;
}

// Nesting of arrays and dictionaries kept; deeper containers are left out.
inline constexpr int kMaxValueDepth = 16;

enum class ValueKind { boolean, number, text, bytes, array, dictionary, other };

// A number as the platform tells it: a floating-point value, or an integer
// that does or does not fit a signed 64-bit value.
struct NumberParts {
  bool isFloat = false;
  std::optional<std::int64_t> integer;  // present when it is an integer that fits
  double real = 0;                      // the value as a real
};

// Integers that fit stay integers and floating-point numbers become reals. An
// integer beyond the signed 64-bit range (an unsigned value above INT64_MAX)
// becomes the nearest real: readers that want an integer then see "not an
// integer" and take their fallback, rather than a wrapped or clamped count.
[[nodiscard]] inline RegistryValue numberValue(const NumberParts& number) {
  if (!number.isFloat && number.integer) return *number.integer;
  return number.real;
}

// Converts one value of the platform's property trees. `Reader` answers, for a
// value `v` of type `V`: `kind(v)`; `boolean(v)`; `number(v)` (NumberParts);
// `text(v)` (optional text); `bytes(v)` (RegistryBytes); `forEachItem(v, f)`
// calling f(item) in array order; `forEachEntry(v, f)` calling f(key, value).
// Absent for values of other kinds (dates, nulls, ...), for text that cannot be
// converted and for containers nested deeper than kMaxValueDepth; inside a
// container such values are left out, and so are entries whose key is not text.
template <class Reader, class V>
[[nodiscard]] std::optional<RegistryValue> convertValue(const Reader& reader, V value, int depth = 0);

template <class Reader, class V>
[[nodiscard]] RegistryDictionary convertDictionary(const Reader& reader, V dictionary, int depth = 0) {
  RegistryDictionary result;
  reader.forEachEntry(dictionary, [&](V key, V item) {
    if (reader.kind(key) != ValueKind::text) return;
    std::optional<std::string> name = reader.text(key);
    if (!name) return;
    std::optional<RegistryValue> converted = convertValue(reader, item, depth + 1);
    if (converted) result.set(std::move(*name), std::move(*converted));
  });
  return result;
}

template <class Reader, class V>
std::optional<RegistryValue> convertValue(const Reader& reader, V value, int depth) {
  switch (reader.kind(value)) {
    case ValueKind::boolean:
      return RegistryValue(static_cast<bool>(reader.boolean(value)));
    case ValueKind::number:
      return numberValue(reader.number(value));
    case ValueKind::text: {
      std::optional<std::string> text = reader.text(value);
      if (!text) return std::nullopt;
      return RegistryValue(std::move(*text));
    }
    case ValueKind::bytes:
      return RegistryValue(reader.bytes(value));
    case ValueKind::array: {
      if (depth >= kMaxValueDepth) return std::nullopt;
      RegistryArray items;
      reader.forEachItem(value, [&](V item) {
        std::optional<RegistryValue> converted = convertValue(reader, item, depth + 1);
        if (converted) items.push_back(std::move(*converted));
      });
      return RegistryValue(std::move(items));
    }
    case ValueKind::dictionary:
      if (depth >= kMaxValueDepth) return std::nullopt;
      return RegistryValue(convertDictionary(reader, value, depth));
    case ValueKind::other:
      break;
  }
  return std::nullopt;
}

// A kernel integer from the bytes it gave, read by their count: 4 bytes a
// signed 32-bit value, 8 bytes a signed 64-bit value, in host order; any other
// count is absent.
[[nodiscard]] inline std::optional<std::int64_t> systemIntegerFromBytes(std::string_view bytes) {
  if (bytes.size() == sizeof(std::int32_t)) {
    std::int32_t value = 0;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
  }
  if (bytes.size() == sizeof(std::int64_t)) {
    std::int64_t value = 0;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
  }
  return std::nullopt;
}

// A kernel text from the bytes it gave: those before the first NUL.
[[nodiscard]] inline std::string systemTextFromBytes(std::string_view bytes) {
  return std::string(bytes.substr(0, bytes.find('\0')));
}

// "macOS" and the numbers of a product version text such as "14.6.1" or
// "15.1" (patch 0); absent when it does not start with a number.
[[nodiscard]] inline std::optional<OsVersion> parseProductVersion(std::string_view text) {
  OsVersion version{"macOS", 0, 0, 0};
  std::int64_t* parts[] = {&version.major, &version.minor, &version.patch};
  for (std::size_t i = 0; i < 3; ++i) {
    if (i > 0) {
      if (!text.starts_with('.')) break;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    std::int64_t n = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
      if (n > (std::numeric_limits<std::int64_t>::max() - 9) / 10) return std::nullopt;
      n = n * 10 + (text[digits] - '0');
      ++digits;
    }
    if (digits == 0) {
      if (i == 0) return std::nullopt;
      break;
    }
    *parts[i] = n;
    text.remove_prefix(digits);
  }
  return version;
}

// Whether `dataType` may be handed to the system profiler: 1 to 64 ASCII
// letters and digits, so that it can never read as an option or a path.
[[nodiscard]] inline bool isReportDataType(std::string_view dataType) {
  if (dataType.empty() || dataType.size() > 64) return false;
  for (char c : dataType) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

}  // namespace calorim::darwin
