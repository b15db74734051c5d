#pragma once
// Small text helpers for the name rules of the core, the backends and the
// application. Pure; they never throw except std::bad_alloc.

#include <cstddef>
#include <string>
#include <string_view>

namespace calorim {

// ASCII lower case, whatever the locale; other bytes, UTF-8 sequences
// included, are kept.
[[nodiscard]] std::string lowerCase(std::string_view text);

// Number of characters (code points) of UTF-8 text.
[[nodiscard]] std::size_t characterCount(std::string_view text);

// Whether `part` occurs in `text`, case kept.
[[nodiscard]] inline bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

}  // namespace calorim
