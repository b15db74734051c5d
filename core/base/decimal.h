#pragma once
// Reading a decimal number from text the same way in every locale and with
// every standard library: the one place the programs turn text into a real.

#include <cstddef>
#include <optional>
#include <string_view>

namespace calorim {

// Longest text `parseDecimal` reads; longer text is refused unread.
inline constexpr std::size_t kMaxDecimalText = 256;

// The finite real written in `text` as [-]digits[.digits][(e|E)[+|-]digits]
// (".5" and "5." included), rounded to the nearest double. Absent for anything
// else: empty text, spaces, a leading '+', hexadecimal, "inf" or "nan", a
// comma, trailing characters, text longer than kMaxDecimalText, or a value too
// large for a double.
[[nodiscard]] std::optional<double> parseDecimal(std::string_view text);

}  // namespace calorim
