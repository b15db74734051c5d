#include "app/views/layout_widgets.h"

#include <QFrame>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "app/views/palette.h"

namespace calorim::app {

Card::Card(const char* objectName, QWidget* parent) : QWidget(parent) { setObjectName(QLatin1String(objectName)); }

void Card::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor border = palette().color(QPalette::WindowText);
  border.setAlphaF(0.14f);
  painter.setPen(QPen(border, 1));
  painter.setBrush(palette().color(QPalette::Base));
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
}

DisclosureGround::DisclosureGround(const char* objectName, QWidget* parent) : QWidget(parent) {
  setObjectName(QLatin1String(objectName));
}

void DisclosureGround::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  QColor fill = palette().color(QPalette::WindowText);
  fill.setAlphaF(0.06f);
  painter.setBrush(fill);
  painter.drawRoundedRect(rect(), Card::kCornerRadius, Card::kCornerRadius);
}

BannerGround::BannerGround(const char* objectName, QWidget* parent) : QWidget(parent) {
  setObjectName(QLatin1String(objectName));
}

void BannerGround::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill = colours::kRed;
  fill.setAlphaF(0.10f);
  painter.setPen(QPen(colours::kRed, 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

ClickableRow::ClickableRow(QWidget* parent, std::function<void()> onClick)
    : QWidget(parent), onClick_(std::move(onClick)) {
  setCursor(Qt::PointingHandCursor);
}

void ClickableRow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) onClick_();
}

WrapRow::WrapRow(int spacing, int lineSpacing, bool lastAtRightEnd)
    : spacing_(spacing), lineSpacing_(lineSpacing), lastAtRightEnd_(lastAtRightEnd) {}

WrapRow::~WrapRow() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void WrapRow::addItem(QLayoutItem* item) { items_.append(item); }
int WrapRow::count() const { return static_cast<int>(items_.size()); }
QLayoutItem* WrapRow::itemAt(int i) const { return items_.value(i); }
QLayoutItem* WrapRow::takeAt(int i) { return i >= 0 && i < items_.size() ? items_.takeAt(i) : nullptr; }
Qt::Orientations WrapRow::expandingDirections() const { return Qt::Horizontal; }
bool WrapRow::hasHeightForWidth() const { return true; }
int WrapRow::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize WrapRow::sizeHint() const {
  int w = 0;
  int h = 0;
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    w += (w > 0 ? spacing_ : 0) + item->sizeHint().width();
    h = std::max(h, item->sizeHint().height());
  }
  return {w, h};
}

QSize WrapRow::minimumSize() const {
  int w = 0;
  int h = 0;
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    w = std::max(w, item->minimumSize().width());
    h += (h > 0 ? lineSpacing_ : 0) + item->sizeHint().height();
  }
  return {w, h};
}

void WrapRow::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  arrange(rect, true);
}

int WrapRow::arrange(const QRect& rect, bool apply) const {
  struct Placed {
    QLayoutItem* item;
    QSize size;
    int x;
    int line;
  };
  QList<Placed> placed;
  QList<int> lineHeights;
  int x = 0;
  for (QLayoutItem* item : items_) {
    if (item->isEmpty()) continue;
    const QSize size(std::min(item->sizeHint().width(), rect.width()), item->sizeHint().height());
    if (lineHeights.isEmpty() || x + spacing_ + size.width() > rect.width()) {
      lineHeights.append(0);
      x = 0;
    } else {
      x += spacing_;
    }
    placed.append({item, size, x, static_cast<int>(lineHeights.size()) - 1});
    lineHeights.last() = std::max(lineHeights.last(), size.height());
    x += size.width();
  }
  if (lastAtRightEnd_ && !placed.isEmpty() && placed.last().item == items_.last() && placed.last().line == 0) {
    placed.last().x = std::max(0, rect.width() - placed.last().size.width());
  }
  QList<int> lineTops;
  int height = 0;
  for (int lineHeight : lineHeights) {
    if (!lineTops.isEmpty()) height += lineSpacing_;
    lineTops.append(height);
    height += lineHeight;
  }
  if (apply) {
    for (const Placed& p : placed) {
      const int y = rect.top() + lineTops[p.line] + (lineHeights[p.line] - p.size.height()) / 2;
      p.item->setGeometry(QRect(QPoint(rect.left() + p.x, y), p.size));
    }
  }
  return height;
}

QVBoxLayout* cardStack(QWidget* card, int spacing) {
  auto* stack = new QVBoxLayout(card);
  stack->setContentsMargins(Card::kPadding, Card::kPadding, Card::kPadding, Card::kPadding);
  stack->setSpacing(spacing);
  return stack;
}

QFrame* makeDivider(QWidget* parent, Qt::Orientation orientation) {
  auto* line = new QFrame(parent);
  line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
  line->setFrameShadow(QFrame::Plain);
  QPalette palette = line->palette();
  QColor colour = palette.color(QPalette::WindowText);
  colour.setAlphaF(0.15f);
  palette.setColor(QPalette::WindowText, colour);
  line->setPalette(palette);
  return line;
}

}  // namespace calorim::app
