#include "core/platform/darwin/cf_values.h"

#include <cstdint>
#include <vector>

#include "core/platform/darwin/darwin_values.h"

namespace calorim::darwin {
namespace {

// Walks Core Foundation values for the converter of darwin_values.h.
struct CfReader {
  [[nodiscard]] ValueKind kind(CFTypeRef value) const {
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFBooleanGetTypeID()) return ValueKind::boolean;
    if (type == CFNumberGetTypeID()) return ValueKind::number;
    if (type == CFStringGetTypeID()) return ValueKind::text;
    if (type == CFDataGetTypeID()) return ValueKind::bytes;
    if (type == CFArrayGetTypeID()) return ValueKind::array;
    if (type == CFDictionaryGetTypeID()) return ValueKind::dictionary;
    return ValueKind::other;
  }

  [[nodiscard]] bool boolean(CFTypeRef value) const { return CFBooleanGetValue(static_cast<CFBooleanRef>(value)); }

  [[nodiscard]] NumberParts number(CFTypeRef value) const {
    const auto number = static_cast<CFNumberRef>(value);
    NumberParts parts;
    parts.isFloat = CFNumberIsFloatType(number);
    CFNumberGetValue(number, kCFNumberDoubleType, &parts.real);
    std::int64_t integer = 0;
    // False when the value does not fit: it then stays a real.
    if (!parts.isFloat && CFNumberGetValue(number, kCFNumberSInt64Type, &integer)) parts.integer = integer;
    return parts;
  }

  [[nodiscard]] std::optional<std::string> text(CFTypeRef value) const { return cfText(value); }

  [[nodiscard]] RegistryBytes bytes(CFTypeRef value) const {
    const auto data = static_cast<CFDataRef>(value);
    const UInt8* begin = CFDataGetBytePtr(data);
    const CFIndex length = CFDataGetLength(data);
    if (begin == nullptr || length <= 0) return {};
    return RegistryBytes(begin, begin + length);
  }

  template <class F>
  void forEachItem(CFTypeRef value, F f) const {
    const auto array = static_cast<CFArrayRef>(value);
    const CFIndex count = CFArrayGetCount(array);
    for (CFIndex i = 0; i < count; ++i) {
      if (CFTypeRef item = CFArrayGetValueAtIndex(array, i)) f(item);
    }
  }

  template <class F>
  void forEachEntry(CFTypeRef value, F f) const {
    const auto dictionary = static_cast<CFDictionaryRef>(value);
    const CFIndex count = CFDictionaryGetCount(dictionary);
    if (count <= 0) return;
    std::vector<const void*> keys(static_cast<std::size_t>(count));
    std::vector<const void*> values(static_cast<std::size_t>(count));
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (keys[i] != nullptr && values[i] != nullptr) f(keys[i], values[i]);
    }
  }
};

}  // namespace

CfRef<CFStringRef> makeCfString(std::string_view text) {
  return CfRef<CFStringRef>(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                                    static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

std::optional<std::string> cfText(CFTypeRef value) {
  if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
  const auto string = static_cast<CFStringRef>(value);
  if (const char* direct = CFStringGetCStringPtr(string, kCFStringEncodingUTF8)) return std::string(direct);
  const CFIndex length = CFStringGetLength(string);
  const CFIndex capacity = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8);
  if (capacity == kCFNotFound || capacity < 0) return std::nullopt;
  std::vector<char> buffer(static_cast<std::size_t>(capacity) + 1);
  if (!CFStringGetCString(string, buffer.data(), capacity + 1, kCFStringEncodingUTF8)) return std::nullopt;
  return std::string(buffer.data());
}

std::optional<RegistryValue> toRegistryValue(CFTypeRef value) {
  if (value == nullptr) return std::nullopt;
  return convertValue(CfReader{}, value);
}

std::optional<RegistryDictionary> toRegistryDictionary(CFTypeRef value) {
  if (value == nullptr || CFGetTypeID(value) != CFDictionaryGetTypeID()) return std::nullopt;
  return convertDictionary(CfReader{}, value);
}

}  // namespace calorim::darwin
