#include "app/views/detail_widgets.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/model/strings.h"
#include "app/views/palette.h"
#include "app/views/temperature_colour.h"

namespace calorim::app {
namespace {

int pixelSize(TextStyle style) {
  switch (style) {
    case TextStyle::headline: return 14;
    case TextStyle::body: return 14;
    case TextStyle::callout: return 13;
    case TextStyle::subheadline: return 12;
    case TextStyle::caption: return 11;
  }
  return 14;
}

QLabel* makeLabel(const char* objectName, const QFont& font, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(objectName));
  label->setFont(font);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// The last character of `s`: one UTF-16 unit, or a surrogate pair.
QStringView lastCharacter(QStringView s) {
  if (s.isEmpty()) return {};
  if (s.size() >= 2 && s.back().isLowSurrogate() && s[s.size() - 2].isHighSurrogate()) return s.last(2);
  return s.last(1);
}

// True for a character with a Unicode numeric value (decimal digits and the
// other number categories).
bool isNumeric(QStringView character) {
  if (character.isEmpty()) return false;
  const char32_t ucs4 =
      character.size() == 2 ? QChar::surrogateToUcs4(character[0], character[1]) : char32_t{character[0].unicode()};
  return QChar::isNumber(ucs4);
}

}  // namespace

// ---- text and colour helpers ------------------------------------------------

QFont styleFont(TextStyle style, QFont::Weight weight, bool monospaced) {
  QFont font = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QGuiApplication::font();
  if (monospaced) font.setStyleHint(QFont::Monospace);
  font.setPixelSize(pixelSize(style));
  font.setWeight(weight);
  return font;
}

QFont totalFont(int pixelSize) {
  QFont font = QGuiApplication::font();
  font.setPixelSize(pixelSize);
  font.setWeight(QFont::Bold);
  return font;
}

QColor secondaryTextColour(const QPalette& palette) {
  QColor colour = palette.color(QPalette::WindowText);
  colour.setAlphaF(0.6f);
  return colour;
}

void setLabelText(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

void setLabelColour(QLabel* label, const QColor& colour) {
  if (label->palette().color(QPalette::WindowText) == colour) return;
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

void setShown(QWidget* widget, bool shown) {
  // A widget never shown or hidden explicitly counts as hidden until its
  // parent appears; it still needs the explicit call.
  if (widget->isHidden() != shown && widget->testAttribute(Qt::WA_WState_ExplicitShowHide)) return;
  widget->setVisible(shown);
}

void setSpoken(QWidget* widget, const QString& subject, const QString& value) {
  const QString name = subject + QLatin1Char(' ') + value;
  if (widget->accessibleName() != name) widget->setAccessibleName(name);
}

QString spokenWatts(std::optional<double> watts, int decimals) {
  return watts ? localized("spoken.watts").arg(fixedText(*watts, decimals)) : localized("spoken.absent");
}

QString spokenPercent(double fraction) { return localized("spoken.percent").arg(fixedText(fraction * 100, 0)); }

QString spokenTemperature(std::optional<double> celsius, TempUnit unit) {
  // NaN is not above 0 either: no reading.
  if (!celsius || !(*celsius > 0)) return localized("spoken.absent");
  return localized(unit == TempUnit::fahrenheit ? "spoken.fahrenheit" : "spoken.celsius")
      .arg(fixedText(convert(unit, *celsius), 0));
}

QString powerOf(const QString& subject) { return localized("spoken.power").arg(subject); }
QString loadOf(const QString& subject) { return localized("spoken.load").arg(subject); }
QString temperatureOf(const QString& subject) { return localized("spoken.temperature").arg(subject); }

QString readableName(QStringView name) {
  if (name == u"EACC_CPU") return localized("core.eCluster");
  if (name.startsWith(u"PACC") && name.endsWith(u"_CPU")) {
    const QStringView middle = name.size() > 8 ? name.mid(4, name.size() - 8) : QStringView();
    return localized("core.pCluster").arg(middle);
  }
  if (name.startsWith(u"EACC_CPU") && isNumeric(lastCharacter(name))) {
    return localized("core.eCore").arg(lastCharacter(name));
  }
  if (name.startsWith(u"PACC")) {
    const QList<QStringView> pieces = name.split(u'_', Qt::SkipEmptyParts);
    if (pieces.size() == 2 && isNumeric(lastCharacter(pieces[1]))) {
      return localized("core.pCore").arg(pieces[0].mid(4), lastCharacter(pieces[1]));
    }
  }
  return name.toString();
}

QString readableName(std::string_view name) {
  return readableName(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

// ---- LevelBar -------------------------------------------------------------------

LevelBar::LevelBar(QColor tint, QWidget* parent) : QWidget(parent), tint_(tint) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelBar::setLevel(double level) {
  if (level == level_) return;
  level_ = level;
  update();
}

QSize LevelBar::sizeHint() const { return {120, 8}; }
QSize LevelBar::minimumSizeHint() const { return {20, 8}; }

void LevelBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const QRectF track(0, (height() - 6) / 2.0, width(), 6);
  QColor trackColour = palette().color(QPalette::WindowText);
  trackColour.setAlphaF(0.12f);
  painter.setBrush(trackColour);
  painter.drawRoundedRect(track, 3, 3);
  const double fraction = std::isfinite(level_) ? std::clamp(level_, 0.0, 1.0) : 0.0;
  if (fraction > 0) {
    painter.setBrush(tint_);
    painter.drawRoundedRect(QRectF(track.left(), track.top(), track.width() * fraction, track.height()), 3, 3);
  }
}

// ---- SymbolIcon -----------------------------------------------------------------

SymbolIcon::SymbolIcon(QString name, QColor colour, int size, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), colour_(colour), size_(size) {
  setFixedSize(size_, size_);
}

void SymbolIcon::setName(const QString& name) {
  if (name == name_) return;
  name_ = name;
  update();
}

QSize SymbolIcon::sizeHint() const { return {size_, size_}; }

void SymbolIcon::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  // Every symbol is drawn on a 16 × 16 grid.
  p.scale(size_ / 16.0, size_ / 16.0);
  const QColor c = colour_;
  QPen pen(c, 1.4);
  pen.setJoinStyle(Qt::RoundJoin);
  auto bolt = [&](QPointF at, double scale) {
    QPolygonF shape{{4.5, 0}, {0.5, 6.5}, {3.5, 6.5}, {2.5, 11}, {6.5, 4.5}, {3.5, 4.5}};
    for (QPointF& point : shape) point = at + point * scale;
    return shape;
  };

  if (name_ == u"exclamationmark.triangle.fill") {
    QPainterPath triangle;
    triangle.moveTo(8, 1.2);
    triangle.lineTo(15.2, 14.5);
    triangle.lineTo(0.8, 14.5);
    triangle.closeSubpath();
    p.fillPath(triangle, c);
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 5.5), QPointF(8, 10));
    p.drawPoint(QPointF(8, 12.6));
  } else if (name_ == u"battery.100.bolt" || name_ == u"battery.75") {
    const bool full = name_ == u"battery.100.bolt";
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.8, 4, 12.4, 8), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(13.8, 6.5, 1.6, 3), 0.6, 0.6);
    const double inner = 10;
    p.drawRoundedRect(QRectF(2.2, 5.4, inner * (full ? 1.0 : 0.75), 5.2), 1, 1);
    if (full) {
      // The bolt is cut out of the fill, in the colour of the card below.
      p.setBrush(palette().color(QPalette::Base));
      p.drawPolygon(bolt(QPointF(4.6, 2.5), 1.0));
    }
  } else if (name_ == u"fan.fill") {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.translate(8, 8);
    for (int blade = 0; blade < 3; ++blade) {
      // A petal from the hub outward, swept a little clockwise.
      QPainterPath petal;
      petal.moveTo(0, -1.5);
      petal.cubicTo(-4.2, -3.0, -3.2, -7.6, 0.6, -7.6);
      petal.cubicTo(3.6, -7.4, 3.2, -3.4, 1.3, -0.8);
      petal.closeSubpath();
      p.drawPath(petal);
      p.rotate(120.0);
    }
    p.drawEllipse(QPointF(0, 0), 1.9, 1.9);
  } else if (name_ == u"cpu") {
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 3, 10, 10), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRect(QRectF(5.6, 5.6, 4.8, 4.8));
    p.setPen(QPen(c, 1.1));
    for (double at : {5.5, 8.0, 10.5}) {
      p.drawLine(QPointF(at, 0.5), QPointF(at, 3));
      p.drawLine(QPointF(at, 13), QPointF(at, 15.5));
      p.drawLine(QPointF(0.5, at), QPointF(3, at));
      p.drawLine(QPointF(13, at), QPointF(15.5, at));
    }
  } else if (name_ == u"bolt.fill") {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(bolt(QPointF(2.5, 0.5), 1.4));
  } else if (name_ == u"gpu") {
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.8, 3.5, 14.4, 8.5), 1.5, 1.5);
    p.drawEllipse(QPointF(6, 7.75), 2.4, 2.4);
    p.drawLine(QPointF(10.5, 6), QPointF(13, 6));
    p.drawLine(QPointF(10.5, 9.5), QPointF(13, 9.5));
    p.drawLine(QPointF(3, 12), QPointF(3, 14.5));
    p.drawLine(QPointF(3, 14.5), QPointF(9, 14.5));
  } else if (name_ == u"memorychip") {
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.8, 4, 14.4, 7.5), 1.2, 1.2);
    p.setPen(QPen(c, 1.1));
    for (double at = 3; at <= 13.5; at += 2.5) p.drawLine(QPointF(at, 11.5), QPointF(at, 14.5));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRect(QRectF(3.5, 6, 3, 3.5));
    p.drawRect(QRectF(9.5, 6, 3, 3.5));
  }
}

// ---- SectionHeader -----------------------------------------------------------------

SectionHeader::SectionHeader(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  title_ = makeLabel("title", styleFont(TextStyle::headline, QFont::DemiBold), this);
  watts_ = makeLabel("watts", styleFont(TextStyle::body, QFont::DemiBold), this);
  temp_ = makeLabel("temp", styleFont(TextStyle::body, QFont::Medium), this);
  temp_->hide();
  row->addWidget(title_, 0, Qt::AlignVCenter);
  row->addStretch(1);
  row->addWidget(watts_, 0, Qt::AlignVCenter);
  row->addWidget(temp_, 0, Qt::AlignVCenter);
}

void SectionHeader::setValues(const QString& title, std::optional<double> watts, double temp, TempUnit unit) {
  setLabelText(title_, title);
  setLabelText(watts_, watts ? fixedText(*watts, 2) + QStringLiteral(" W") : QStringLiteral("\u2014"));
  setSpoken(watts_, powerOf(title), spokenWatts(watts, 2));
  setSpoken(temp_, temperatureOf(title), spokenTemperature(temp, unit));
  const bool showTemp = temp > 0;
  if (showTemp) {
    setLabelText(temp_, QString::fromStdString(format(unit, temp)));
    setLabelColour(temp_, temperatureColour(temp));
  }
  setShown(temp_, showTemp);
}

// ---- ClusterBar -----------------------------------------------------------------

ClusterBar::ClusterBar(QColor tint, QWidget* parent) : QWidget(parent) {
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(2);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  label_ = makeLabel("label", styleFont(TextStyle::caption), this);
  figures_ = makeLabel("figures", styleFont(TextStyle::caption), this);
  row->addWidget(label_, 0, Qt::AlignVCenter);
  row->addStretch(1);
  row->addWidget(figures_, 0, Qt::AlignVCenter);
  stack->addLayout(row);
  bar_ = new LevelBar(tint, this);
  bar_->setObjectName(QStringLiteral("bar"));
  stack->addWidget(bar_);
}

void ClusterBar::setValues(const QString& label, double usage, std::optional<double> power) {
  setLabelText(label_, label);
  QString figures = fixedText(usage * 100, 0) + QLatin1Char('%');
  if (power) figures += QStringLiteral("  ") + fixedText(*power, 2) + QStringLiteral(" W");
  setLabelText(figures_, figures);
  bar_->setLevel(std::min(usage, 1.0));
  QString spoken = spokenPercent(usage);
  if (power) spoken += QStringLiteral(", ") + spokenWatts(power, 2);
  setSpoken(figures_, loadOf(label), spoken);
  setSpoken(bar_, loadOf(label), spokenPercent(usage));
}

// ---- UsageBar -------------------------------------------------------------------

UsageBar::UsageBar(QColor tint, QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  bar_ = new LevelBar(tint, this);
  bar_->setObjectName(QStringLiteral("bar"));
  bar_->setMaximumWidth(kMaxBarWidth);
  percent_ = makeLabel("percent", styleFont(TextStyle::caption), this);
  row->addWidget(bar_, 1, Qt::AlignVCenter);
  row->addWidget(percent_, 0, Qt::AlignVCenter);
}

void UsageBar::setUsage(double usage, const QString& subject) {
  bar_->setLevel(std::min(usage, 1.0));
  setLabelText(percent_, fixedText(usage * 100, 0) + QLatin1Char('%'));
  setSpoken(bar_, loadOf(subject), spokenPercent(usage));
  setSpoken(percent_, loadOf(subject), spokenPercent(usage));
}

// ---- WattsRow -------------------------------------------------------------------

WattsRow::WattsRow(bool bold, QWidget* parent) : QWidget(parent), bold_(bold) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  label_ = makeLabel("label",
                     bold ? styleFont(TextStyle::headline, QFont::DemiBold) : styleFont(TextStyle::subheadline), this);
  watts_ = makeLabel("watts", styleFont(TextStyle::body, bold ? QFont::DemiBold : QFont::Normal), this);
  row->addWidget(label_, 0, Qt::AlignVCenter);
  row->addStretch(1);
  row->addWidget(watts_, 0, Qt::AlignVCenter);
  applyColours();
}

void WattsRow::setValues(const QString& label, double watts) {
  setLabelText(label_, label);
  setLabelText(watts_, fixedText(watts, 3) + QStringLiteral(" W"));
  setSpoken(watts_, powerOf(label), spokenWatts(watts, 3));
  const bool faded = !bold_ && watts < kIdleBelow;
  if (faded != faded_) {
    faded_ = faded;
    applyColours();
  }
}

void WattsRow::applyColours() {
  // Fading is drawn as text at 40 % of its colour's opacity: the row holds
  // nothing but text, and this is far cheaper than an opacity effect.
  const QPalette& base = palette();
  QColor primary = base.color(QPalette::WindowText);
  QColor label = bold_ ? primary : secondaryTextColour(base);
  const float factor = faded_ ? static_cast<float>(kIdleOpacity) : 1.0f;
  primary.setAlphaF(primary.alphaF() * factor);
  label.setAlphaF(label.alphaF() * factor);
  setLabelColour(label_, label);
  setLabelColour(watts_, primary);
}

// ---- ChannelGrid ----------------------------------------------------------------

namespace {

QGridLayout* makeGrid(QWidget* owner, int columns) {
  auto* grid = new QGridLayout(owner);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(2);
  for (int c = 0; c < columns; ++c) {
    grid->setColumnStretch(c, 1);
    grid->setColumnMinimumWidth(c, 10);
  }
  return grid;
}

}  // namespace

LabelGrid::LabelGrid(int columns, const char* cellName, int spacing, QWidget* parent)
    : QWidget(parent), columns_(columns), cellName_(cellName), spacing_(spacing), grid_(makeGrid(this, columns)) {}

void LabelGrid::resizeCells(std::size_t wanted) {
  while (cells_.size() > wanted) {
    delete cells_.back().widget;
    cells_.pop_back();
  }
  const QFont font = styleFont(TextStyle::caption, QFont::Normal, true);
  while (cells_.size() < wanted) {
    const int i = static_cast<int>(cells_.size());
    auto* widget = new QWidget(this);
    widget->setObjectName(QString::fromLatin1(cellName_));
    auto* row = new QHBoxLayout(widget);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing_);
    QLabel* name = makeLabel("name", font, widget);
    QLabel* value = makeLabel("value", font, widget);
    row->addWidget(name, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(value, 0, Qt::AlignVCenter);
    widget->show();
    grid_->addWidget(widget, i / columns_, i % columns_);
    cells_.push_back(Cell{widget, name, value});
  }
}

ChannelGrid::ChannelGrid(QWidget* parent) : LabelGrid(2, "channelCell", 4, parent) {}

void ChannelGrid::setChannels(const std::vector<ChannelPower>& channels) {
  resizeCells(channels.size());
  const QColor secondary = secondaryTextColour(palette());
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const int cell = static_cast<int>(i);
    setLabelText(nameLabel(cell), readableName(channels[i].name()));
    setLabelText(valueLabel(cell), fixedText(channels[i].watts(), 3));
    setSpoken(valueLabel(cell), powerOf(nameLabel(cell)->text()), spokenWatts(channels[i].watts(), 3));
    setLabelColour(valueLabel(cell), secondary);
  }
}

// ---- CoreTempGrid ---------------------------------------------------------------

CoreTempGrid::CoreTempGrid(QWidget* parent) : LabelGrid(3, "tempCell", 2, parent) {}

void CoreTempGrid::setTemps(const std::vector<double>& temps, TempUnit unit) {
  resizeCells(temps.size());
  for (std::size_t i = 0; i < temps.size(); ++i) {
    const int cell = static_cast<int>(i);
    setLabelText(nameLabel(cell), QLatin1Char('C') + integerText(cell));
    setLabelText(valueLabel(cell), QString::fromStdString(format(unit, temps[i])));
    setSpoken(valueLabel(cell), temperatureOf(nameLabel(cell)->text()), spokenTemperature(temps[i], unit));
    setLabelColour(valueLabel(cell), temperatureColour(temps[i]));
  }
}

// ---- HistoryLine ----------------------------------------------------------------

HistoryLine::HistoryLine(QWidget* parent) : QWidget(parent) {
  setSpoken(this, localized("spoken.history"), localized("spoken.absent"));
  setFixedHeight(kHeight);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QList<QPointF> HistoryLine::pointsFor(const std::vector<double>& values, QSizeF size) {
  QList<QPointF> points;
  if (values.size() < 2) return points;
  const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
  const double min = *lowest;
  double range = *highest - min;
  if (range <= kMinRange) range = kMinRange;
  const double last = static_cast<double>(values.size() - 1);
  points.reserve(static_cast<qsizetype>(values.size()));
  for (std::size_t i = 0; i < values.size(); ++i) {
    points.append(QPointF(size.width() * static_cast<double>(i) / last,
                          size.height() * (1 - (values[i] - min) / range)));
  }
  return points;
}

void HistoryLine::setValues(const std::vector<double>& values) {
  if (values == values_) return;
  values_ = values;
  // The line drawn, in words: between which powers it runs.
  if (values_.empty()) {
    setSpoken(this, localized("spoken.history"), localized("spoken.absent"));
  } else {
    const auto [lowest, highest] = std::minmax_element(values_.begin(), values_.end());
    setSpoken(this, localized("spoken.history"),
              localized("spoken.historyRange").arg(fixedText(*lowest, 1), fixedText(*highest, 1)));
  }
  points_ = pointsFor(values_, size());
  update();
}

QSize HistoryLine::sizeHint() const { return {200, kHeight}; }

void HistoryLine::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  points_ = pointsFor(values_, size());
}

void HistoryLine::paintEvent(QPaintEvent*) {
  if (points_.size() < 2) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(colours::kBlue, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPolyline(points_.constData(), static_cast<int>(points_.size()));
}

}  // namespace calorim::app
