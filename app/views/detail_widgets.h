#pragma once
// The small building blocks of the detail window and the labels of the CPU
// energy channels:
//
//   SectionHeader  title, watts "%.2f W" and, when above 0, a coloured temperature
//   ClusterBar     label, "%.0f%%  %.2f W" and a usage bar
//   UsageBar       a usage bar (at most 200 px wide) and "%.0f%%"
//   WattsRow       label and "%.3f W"; drawn at 40 % opacity when idle (< 0.01 W, not bold)
//   ChannelGrid    two columns of channel cells: readable name, "%.3f"
//   CoreTempGrid   three columns of core cells: "C0", "C1", ..., coloured temperature
//   HistoryLine    the power-history line of the hero card
//
// Each is built once and then fed new values through its setter, which
// touches only what changed, so a new sample never rebuilds or reflows the
// window. Bars show usage capped at 1 while the texts show the true
// percentage. Numbers are written with the C locale's decimal point.
//
// Inspected children carry object names (noted at each class).

#include <QColor>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QString>
#include <QWidget>

#include <optional>
#include <string_view>
#include <vector>

#include "app/model/number_text.h"
#include "app/model/menu_bar_text.h"
#include "core/records.h"

class QGridLayout;
class QLabel;

namespace calorim::app {

// ---- text and colour helpers ------------------------------------------------

// The text styles of the detail window, in pixel sizes.
enum class TextStyle { headline, body, callout, subheadline, caption };

// The application font at `style`'s size; `monospaced` picks the system's
// fixed-pitch family (the digits of the proportional family are already of
// equal width).
[[nodiscard]] QFont styleFont(TextStyle style, QFont::Weight weight = QFont::Normal, bool monospaced = false);
// The bold font of the hero card's totals at `pixelSize`.
[[nodiscard]] QFont totalFont(int pixelSize);

// The colour of secondary text on `palette`'s window.
[[nodiscard]] QColor secondaryTextColour(const QPalette& palette);

// Setters that leave a label alone when nothing changes, so it neither
// repaints nor asks its layout for a new geometry.
void setLabelText(QLabel* label, const QString& text);
void setLabelColour(QLabel* label, const QColor& colour);
// Shows or hides `widget` only when that changes its explicit state.
void setShown(QWidget* widget, bool shown);

// What a screen reader says for a figure: its subject and its value in words,
// "CPU power 3.62 watts", as the widget's accessible name (the figure's own
// text, "3.62 W", says too little alone). Set only when it changes.
void setSpoken(QWidget* widget, const QString& subject, const QString& value);
// Values in words, from the string bundle's "spoken." texts: "3.62 watts"
// (the number written as the figure writes it), "23 percent", "48 degrees
// Celsius"; "not measured" for an absent figure.
[[nodiscard]] QString spokenWatts(std::optional<double> watts, int decimals);
[[nodiscard]] QString spokenPercent(double fraction);
[[nodiscard]] QString spokenTemperature(std::optional<double> celsius, TempUnit unit);
// "<subject> power", "<subject> load", "<subject> temperature".
[[nodiscard]] QString powerOf(const QString& subject);
[[nodiscard]] QString loadOf(const QString& subject);
[[nodiscard]] QString temperatureOf(const QString& subject);

// The display label of a CPU energy channel: "EACC_CPU" → "core.eCluster";
// "PACC<c>_CPU" → "core.pCluster" with c; "EACC_CPU…<d>" → "core.eCore" with
// the last character d; "PACC<c>_…<d>" in exactly two pieces → "core.pCore"
// with c and d; any other name unchanged. The first rule that applies wins.
[[nodiscard]] QString readableName(QStringView name);
[[nodiscard]] QString readableName(std::string_view name);

// ---- painted pieces -----------------------------------------------------------

// A horizontal bar filled to `level`, drawn clamped to 0..1 and tinted.
class LevelBar : public QWidget {
  Q_OBJECT

 public:
  explicit LevelBar(QColor tint, QWidget* parent = nullptr);

  // Keeps `level` as given (callers cap it at 1); repaints only on a change.
  void setLevel(double level);
  [[nodiscard]] double level() const { return level_; }
  [[nodiscard]] QColor tint() const { return tint_; }

  [[nodiscard]] QSize sizeHint() const override;
  [[nodiscard]] QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor tint_;
  double level_ = 0;
};

// One of the few symbols the detail window draws next to its texts:
// "exclamationmark.triangle.fill", "battery.100.bolt", "battery.75",
// "fan.fill", "cpu", "bolt.fill", "gpu", "memorychip". Any other name draws nothing.
class SymbolIcon : public QWidget {
  Q_OBJECT

 public:
  SymbolIcon(QString name, QColor colour, int size, QWidget* parent = nullptr);

  void setName(const QString& name);
  [[nodiscard]] const QString& name() const { return name_; }
  [[nodiscard]] QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString name_;
  QColor colour_;
  int size_;
};

// ---- components -----------------------------------------------------------------

// Children: "title", "watts", "temp" (QLabel; "temp" hidden unless temp > 0).
class SectionHeader : public QWidget {
  Q_OBJECT

 public:
  explicit SectionHeader(QWidget* parent = nullptr);

  // `temp` in °C; shown in `unit`, coloured by its Celsius value.
  // Absent `watts` (no energy counters) shows as "—".
  void setValues(const QString& title, std::optional<double> watts, double temp, TempUnit unit);

 private:
  QLabel* title_;
  QLabel* watts_;
  QLabel* temp_;
};

// Children: "label", "figures" (QLabel), "bar" (LevelBar).
class ClusterBar : public QWidget {
  Q_OBJECT

 public:
  ClusterBar(QColor tint, QWidget* parent = nullptr);

  // `usage` as a fraction (1 = 100 %), `power` in W.
  // Absent `power` leaves the watts out.
  void setValues(const QString& label, double usage, std::optional<double> power);

 private:
  QLabel* label_;
  QLabel* figures_;
  LevelBar* bar_;
};

// Children: "bar" (LevelBar, at most 200 px wide), "percent" (QLabel).
class UsageBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMaxBarWidth = 200;

  UsageBar(QColor tint, QWidget* parent = nullptr);

  // `subject` names what is loaded ("GPU") for screen readers.
  void setUsage(double usage, const QString& subject);

 private:
  LevelBar* bar_;
  QLabel* percent_;
};

// Children: "label", "watts" (QLabel).
class WattsRow : public QWidget {
  Q_OBJECT

 public:
  static constexpr double kIdleBelow = 0.01;  // W
  static constexpr double kIdleOpacity = 0.4;

  explicit WattsRow(bool bold = false, QWidget* parent = nullptr);

  void setValues(const QString& label, double watts);
  [[nodiscard]] bool bold() const { return bold_; }
  // 0.4 while the row is faded, else 1.
  [[nodiscard]] double opacity() const { return faded_ ? kIdleOpacity : 1.0; }

 private:
  void applyColours();

  bool bold_;
  bool faded_ = false;
  QLabel* label_;
  QLabel* watts_;
};

// Name/value cells in a fixed number of columns, filled row by row in list
// order. Cells are kept and relabelled; only a change in their number adds or
// removes cells at the end.
class LabelGrid : public QWidget {
  Q_OBJECT

 public:
  [[nodiscard]] int count() const { return static_cast<int>(cells_.size()); }
  [[nodiscard]] QLabel* nameLabel(int i) const { return cells_.at(static_cast<std::size_t>(i)).name; }
  [[nodiscard]] QLabel* valueLabel(int i) const { return cells_.at(static_cast<std::size_t>(i)).value; }

 protected:
  // `cellName` is each cell's objectName; `spacing` the gap between name and value.
  LabelGrid(int columns, const char* cellName, int spacing, QWidget* parent);
  // Adds or removes cells at the end until there are `wanted`.
  void resizeCells(std::size_t wanted);

 private:
  struct Cell {
    QWidget* widget;
    QLabel* name;
    QLabel* value;
  };

  int columns_;
  const char* cellName_;
  int spacing_;
  QGridLayout* grid_;
  std::vector<Cell> cells_;
};

// Two columns of channels: readable name and watts.
class ChannelGrid : public LabelGrid {
  Q_OBJECT

 public:
  explicit ChannelGrid(QWidget* parent = nullptr);

  void setChannels(const std::vector<ChannelPower>& channels);
};

// Three columns of cells "C<i>" with the temperature in `unit`, coloured by its
// Celsius value, in list order.
class CoreTempGrid : public LabelGrid {
  Q_OBJECT

 public:
  explicit CoreTempGrid(QWidget* parent = nullptr);

  void setTemps(const std::vector<double>& temps, TempUnit unit);
};

// The power history: one open blue path through the values, oldest at the
// left edge, newest at the right; nothing with fewer than two values.
class HistoryLine : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kHeight = 40;
  static constexpr double kMinRange = 0.1;  // W: flatter histories are drawn against this range

  explicit HistoryLine(QWidget* parent = nullptr);

  // The points of `values` on a canvas of `size`: point i of n at
  // x = W·i/(n−1), y = H·(1 − (v − min)/range), range = max − min raised to
  // 0.1 when it is 0.1 or less. Empty for fewer than two values.
  [[nodiscard]] static QList<QPointF> pointsFor(const std::vector<double>& values, QSizeF size);

  void setValues(const std::vector<double>& values);
  // The points as drawn at the widget's current size.
  [[nodiscard]] const QList<QPointF>& points() const { return points_; }

  [[nodiscard]] QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::vector<double> values_;
  QList<QPointF> points_;
};

}  // namespace calorim::app
