#pragma once
// AppKit counts screen positions from the bottom left of the primary screen
// (the first one, which holds the menu bar), y growing upwards; Qt counts
// from that screen's top left, y growing downwards. Both count points.

#include <QRect>
#include <QRectF>
#include <QtNumeric>

#include <cmath>

namespace calorim::app {

// The AppKit screen rectangle `appKit` in Qt's global coordinates, as the
// smallest whole rectangle that covers it, given the primary screen's
// height. Null for an empty rectangle, a screen without height, or values no
// screen has.
[[nodiscard]] inline QRect qtScreenRect(const QRectF& appKit, qreal primaryScreenHeight) {
  constexpr qreal kFarthest = 1 << 20;
  for (qreal value : {appKit.x(), appKit.y(), appKit.width(), appKit.height(), primaryScreenHeight}) {
    if (!qIsFinite(value) || std::abs(value) > kFarthest) return {};
  }
  if (!appKit.isValid() || primaryScreenHeight <= 0) return {};
  return QRectF(appKit.x(), primaryScreenHeight - appKit.y() - appKit.height(), appKit.width(), appKit.height())
      .toAlignedRect();
}

}  // namespace calorim::app
