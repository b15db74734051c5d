#pragma once
// The colour of a temperature, shared by the panel and the detail window:
// red at 90 °C or more, orange at 70 °C or more, green below. Always judged on
// the Celsius value, whatever unit the text is written in.

#include <QColor>

namespace calorim::app {

enum class TemperatureLevel { normal, warm, hot };

// `hot` at ≥ 90 °C, `warm` at ≥ 70 °C, `normal` below (also for NaN).
[[nodiscard]] TemperatureLevel temperatureLevel(double celsius);

// Green, orange or red for the level of `celsius`.
[[nodiscard]] QColor temperatureColour(double celsius);
[[nodiscard]] QColor temperatureColour(TemperatureLevel level);

}  // namespace calorim::app
