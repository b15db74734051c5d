#include "core/base/number_text.h"

#include <algorithm>
#include <charconv>

namespace calorim {

std::string fixedDecimal(double v, int decimals) {
  decimals = std::clamp(decimals, 0, 17);
  // The longest fixed form of a double: 309 integer digits, sign, point, decimals.
  char buffer[340];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
  std::string text(buffer, result.ptr);
  if (text.starts_with('-') && text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);
  return text;
}

double convert(TempUnit unit, double celsius) {
  return unit == TempUnit::fahrenheit ? celsius * 9 / 5 + 32 : celsius;
}

}  // namespace calorim
