#pragma once
// UTF-8 checks for text that arrives from outside (system values, child
// process output, protocol lines).

#include <string>
#include <string_view>

namespace calorim {

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or code
// points above U+10FFFF).
[[nodiscard]] bool isValidUtf8(std::string_view text);

// `text` with every ill-formed sequence replaced by U+FFFD.
[[nodiscard]] std::string repairUtf8(std::string_view text);

}  // namespace calorim
