#include "core/base/decimal.h"

#include <charconv>
#include <locale>
#include <optional>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "tests/core/line_cases.h"

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

// The cases are in the golden file; here the ones a line cannot hold.
TEST(ParseDecimal, ReadsTheDecimalFormsAndRefusesEverythingElseInAnyLocale) {
  const GlobalLocale comma(std::locale(std::locale::classic(), new CommaPoint));
  EXPECT_LINE_CASES(GOLDEN_DIR "/decimal_cases.txt", [](const std::string& text) {
    const std::optional<double> value = parseDecimal(text);
    if (!value) return std::string("refused");
    char shortest[32];
    return std::string(shortest, std::to_chars(shortest, shortest + sizeof shortest, *value).ptr);
  });
  EXPECT_EQ(parseDecimal(""), std::nullopt);
  EXPECT_EQ(parseDecimal(std::string_view("1\0", 2)), std::nullopt);
}

TEST(ParseDecimal, RefusesOverlongTextUnread) {
  EXPECT_EQ(parseDecimal(std::string(kMaxDecimalText - 2, '0') + ".5"), 0.5);
  EXPECT_EQ(parseDecimal(std::string(kMaxDecimalText, '0') + ".5"), std::nullopt);
}

}  // namespace
}  // namespace calorim
