#pragma once
// The one way every window and the tray write a number, so that two views
// never show the same value differently.
//
// `decimals` digits after the point, rounded as printf's "%.Nf" rounds (the
// exact binary value, ties to even: 0.125 at two decimals is "0.12", 2.675 is
// "2.67" because its double lies below the tie), in the C locale whatever the
// process locale is. A value that rounds to zero never shows a minus sign:
// -0.0 and -0.004 at two decimals both read "0.00". Infinities and NaN read
// "inf", "-inf" and "nan".

#include <cstdint>
#include <string>

#include <QString>

namespace calorim::app {

[[nodiscard]] std::string fixedDecimal(double v, int decimals);
[[nodiscard]] QString fixedText(double v, int decimals);
// A whole number in decimal digits.
[[nodiscard]] QString integerText(std::int64_t n);

}  // namespace calorim::app
