#include "core/base/decimal.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <locale>
#include <sstream>
#include <string>

namespace calorim {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Skips a run of digits from `at`; returns how many there were.
std::size_t skipDigits(std::string_view text, std::size_t& at) {
  const std::size_t from = at;
  while (at < text.size() && isDigit(text[at])) ++at;
  return at - from;
}

bool isDecimalSyntax(std::string_view text) {
  std::size_t at = 0;
  if (at < text.size() && text[at] == '-') ++at;
  std::size_t digits = skipDigits(text, at);
  if (at < text.size() && text[at] == '.') {
    ++at;
    digits += skipDigits(text, at);
  }
  if (digits == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (skipDigits(text, at) == 0) return false;
  }
  return at == text.size();
}

// Exact for up to 15 significant digits and a decimal point within 22 places
// of them (every factor below is a double exactly): one rounding only.
std::optional<double> exactShortDecimal(std::string_view text) {
  static constexpr std::array<double, 23> kPowers = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const bool negative = !text.empty() && text.front() == '-';
  std::uint64_t mantissa = 0;
  int significant = 0;
  int fraction = 0;
  bool afterPoint = false;
  for (const char c : text.substr(negative ? 1 : 0)) {
    if (c == '.') {
      afterPoint = true;
      continue;
    }
    if (!isDigit(c)) return std::nullopt;  // an exponent: the general path
    if (mantissa != 0 || c != '0') ++significant;
    if (significant > 15) return std::nullopt;
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
    if (afterPoint) ++fraction;
  }
  if (fraction >= static_cast<int>(kPowers.size())) return std::nullopt;
  const double value = static_cast<double>(mantissa) / kPowers[static_cast<std::size_t>(fraction)];
  return negative ? -value : value;
}

}  // namespace

std::optional<double> parseDecimal(std::string_view text) {
  if (text.size() > kMaxDecimalText || !isDecimalSyntax(text)) return std::nullopt;
  if (const std::optional<double> value = exactShortDecimal(text)) return value;
  // The classic locale's reading rounds correctly and ignores the user's
  // decimal separator.
  std::istringstream stream{std::string(text)};
  stream.imbue(std::locale::classic());
  double value = 0;
  stream >> value;
  if (stream.fail() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace calorim
