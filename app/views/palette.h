#pragma once
// The colours of the application's windows, each defined once.

#include <QColor>

namespace calorim::app::colours {

inline const QColor kBlue(0x0A, 0x84, 0xFF);        // performance cores, the history's bars
inline const QColor kCyan(0x32, 0xAD, 0xE6);        // efficiency cores
inline const QColor kGreen(0x28, 0xB4, 0x46);       // usage bars, charging, a cool temperature
inline const QColor kOrange(0xFF, 0x95, 0x00);      // a warm temperature, boost, notices
inline const QColor kRed(0xFF, 0x3B, 0x30);         // a hot temperature, the error banner
inline const QColor kMarkerBlue(0x00, 0x7A, 0xFF);  // the power adapter's active offer

}  // namespace calorim::app::colours
