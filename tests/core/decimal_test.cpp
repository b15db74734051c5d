#include "core/base/decimal.h"

#include <locale>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace calorim {
namespace {

// A locale that writes and reads "1,5" for one and a half.
struct CommaPoint final : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

class GlobalLocale {
 public:
  explicit GlobalLocale(const std::locale& locale) : previous_(std::locale::global(locale)) {}
  ~GlobalLocale() { std::locale::global(previous_); }
  GlobalLocale(const GlobalLocale&) = delete;
  GlobalLocale& operator=(const GlobalLocale&) = delete;

 private:
  std::locale previous_;
};

TEST(ParseDecimal, ReadsTheDecimalFormsAndRefusesEverythingElseInAnyLocale) {
  const GlobalLocale comma(std::locale(std::locale::classic(), new CommaPoint));
  const struct {
    std::string_view text;
    std::optional<double> value;
  } cases[] = {
      {"2", 2.0},
      {"0.5", 0.5},
      {".5", 0.5},
      {"5.", 5.0},
      {"-1.25", -1.25},
      {"1e3", 1000.0},
      {"2.5E-1", 0.25},
      {"1e+2", 100.0},
      {"0.1", 0.1},
      {"0.30000000000000004", 0.30000000000000004},  // 17 digits: beyond the short path
      {"123456789012345678901", 123456789012345678901.0},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"1e-400", 0.0},  // below the smallest double: zero, as written
      {"1e309", std::nullopt},
      {"1,5", std::nullopt},
      {"1.000,5", std::nullopt},
      {"", std::nullopt},
      {".", std::nullopt},
      {"-", std::nullopt},
      {"1e", std::nullopt},
      {"e5", std::nullopt},
      {"+1", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"1.5s", std::nullopt},
      {"0x10", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      {"1..2", std::nullopt},
      {std::string_view("1\0", 2), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parseDecimal(c.text), c.value);
  }
}

TEST(ParseDecimal, RefusesOverlongTextUnread) {
  EXPECT_EQ(parseDecimal(std::string(kMaxDecimalText - 2, '0') + ".5"), 0.5);
  EXPECT_EQ(parseDecimal(std::string(kMaxDecimalText, '0') + ".5"), std::nullopt);
}

}  // namespace
}  // namespace calorim
