#include "app/views/temperature_colour.h"

namespace calorim::app {

TemperatureLevel temperatureLevel(double celsius) {
  if (celsius >= 90) return TemperatureLevel::hot;
  if (celsius >= 70) return TemperatureLevel::warm;
  return TemperatureLevel::normal;
}

QColor temperatureColour(TemperatureLevel level) {
  switch (level) {
    case TemperatureLevel::hot: return QColor(0xFF, 0x3B, 0x30);
    case TemperatureLevel::warm: return QColor(0xFF, 0x95, 0x00);
    case TemperatureLevel::normal: break;
  }
  return QColor(0x28, 0xB4, 0x46);
}

QColor temperatureColour(double celsius) { return temperatureColour(temperatureLevel(celsius)); }

}  // namespace calorim::app
