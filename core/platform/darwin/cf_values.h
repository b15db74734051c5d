#pragma once
// Core Foundation values as text and as the registry port's values.

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <string_view>

#include "core/platform/darwin/handles.h"
#include "core/platform/registry_port.h"

namespace calorim::darwin {

// A CFString holding `text`; null when `text` is not UTF-8.
[[nodiscard]] CfRef<CFStringRef> makeCfString(std::string_view text);

// The UTF-8 text of `string`; absent when it is null or not a CFString.
[[nodiscard]] std::optional<std::string> cfText(CFTypeRef string);

// `value` converted by the rules of darwin_values.h; absent when it is null
// or of a kind the registry port has no value for.
[[nodiscard]] std::optional<RegistryValue> toRegistryValue(CFTypeRef value);

// The entries of a CFDictionary; absent when `value` is not one.
[[nodiscard]] std::optional<RegistryDictionary> toRegistryDictionary(CFTypeRef value);

}  // namespace calorim::darwin
