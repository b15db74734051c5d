#pragma once
// The one way every program writes a number and a temperature, so that the
// application's windows, its tray and the terminal view never show the same
// value differently.
//
// `fixedDecimal`: `decimals` digits after the point, rounded as printf's
// "%.Nf" rounds (the exact binary value, ties to even: 0.125 at two decimals
// is "0.12", 2.675 is "2.67" because its double lies below the tie), in the C
// locale whatever the process locale is. A value that rounds to zero never
// shows a minus sign: -0.0 and -0.004 at two decimals both read "0.00".
// Infinities and NaN read "inf", "-inf" and "nan".

#include <string>

namespace calorim {

[[nodiscard]] std::string fixedDecimal(double v, int decimals);

enum class TempUnit { celsius, fahrenheit };

// `celsius` (°C) in `unit`: °C × 9 / 5 + 32 for `fahrenheit`.
[[nodiscard]] double convert(TempUnit unit, double celsius);

}  // namespace calorim
