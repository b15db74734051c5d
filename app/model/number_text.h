#pragma once
// The one way every window and the tray write a number, as Qt text: the
// digits are core/base/number_text.h's `fixedDecimal`, shared with the
// terminal programs.

#include <cstdint>

#include <QString>

#include "core/base/number_text.h"

namespace calorim::app {

[[nodiscard]] QString fixedText(double v, int decimals);
// A whole number in decimal digits.
[[nodiscard]] QString integerText(std::int64_t n);

}  // namespace calorim::app
