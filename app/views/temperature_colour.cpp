#include "app/views/temperature_colour.h"

#include "app/views/palette.h"

namespace calorim::app {

TemperatureLevel temperatureLevel(double celsius) {
  if (celsius >= 90) return TemperatureLevel::hot;
  if (celsius >= 70) return TemperatureLevel::warm;
  return TemperatureLevel::normal;
}

QColor temperatureColour(TemperatureLevel level) {
  switch (level) {
    case TemperatureLevel::hot: return colours::kRed;
    case TemperatureLevel::warm: return colours::kOrange;
    case TemperatureLevel::normal: break;
  }
  return colours::kGreen;
}

QColor temperatureColour(double celsius) { return temperatureColour(temperatureLevel(celsius)); }

}  // namespace calorim::app
