#pragma once
// What calorim-top's screen shows, as plain lines of text: the layout of every
// figure at a given size, with no terminal involved, so that it can be tested
// line by line. The terminal layer (terminal.h) only copies these lines to the
// screen.
//
// Every figure is written as the application writes it (`fixedDecimal`: power
// in W with two decimals, usage in % and temperatures, clocks, fan speeds with
// none). A figure the machine does not measure is left out; power that cannot
// be read is "—" with one line saying why. Every character the layout writes
// takes one terminal column, so a line's width is its count of code points.

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/base/number_text.h"
#include "core/machine_description.h"
#include "core/power_supply_reader.h"
#include "core/process_power.h"
#include "core/records.h"

namespace calorim::top {

// One sample as the screen shows it.
struct Reading {
  PowerSnapshot snapshot;
  std::optional<ProcessAttribution> processes;  // absent where processes cannot be listed
  PowerSupplyReading supply;
  std::vector<GpuFigures> gpus{};  // each GPU of a machine that lists them one by one
};

// Who the machine is, for the title line.
struct MachineHeader {
  std::string machine;  // the model's name
  std::string chip;
  std::string os;       // "macOS 15.1.0"
  bool simulated = false;
};

// How the person looking has set the view with the keys.
struct ViewState {
  double interval = 1;  // seconds
  TempUnit unit = TempUnit::celsius;
  bool processes = true;
  bool paused = false;
  bool help = false;
};

// One domain of the machine's power with its watts; absent watts: not readable.
struct PowerRow {
  std::string name;
  std::optional<double> watts;
  bool part = false;  // a share of the row above it, shown indented
};

// The power domains of `reading` the machine measures, named as it has them,
// ending with the total. A machine that names its own energy domains (a PC)
// shows them by those names, then each discrete GPU by its name, the total,
// and the whole platform below it (never part of it). Without energy access
// one row "Power" without watts.
[[nodiscard]] std::vector<PowerRow> powerRows(const MachineDescription& description, bool hasEnergy,
                                              const Reading& reading);

// The recent watts of each power row by its name, newest last, at most
// kLength of each.
class PowerHistory {
 public:
  static constexpr std::size_t kLength = 240;

  void add(const std::vector<PowerRow>& rows);
  // The recent watts of `name`, oldest first; empty when there are none.
  [[nodiscard]] const std::deque<double>& of(const std::string& name) const;
  // The highest watts any row had in the history; 0 when empty.
  [[nodiscard]] double peak() const;

 private:
  std::map<std::string, std::deque<double>> rows_;
};

enum class LineStyle { plain, title, banner, heading, notice, keys };

struct ScreenLine {
  std::string text;  // UTF-8, at most the screen's width in columns
  LineStyle style = LineStyle::plain;

  bool operator==(const ScreenLine&) const = default;
};

struct ScreenInput {
  const MachineHeader& header;
  const MachineDescription& description;
  bool hasEnergy = false;
  std::optional<std::string> energyNotice;  // why power is not shown
  const Reading* latest = nullptr;          // null until the first sample
  const PowerHistory& history;
  ViewState view;
};

// The screen at `width` × `height` (each at least 1): at most `height` lines
// of at most `width` columns. Sections that do not fit are left out, the least
// needed first. Pure; never throws except std::bad_alloc.
[[nodiscard]] std::vector<ScreenLine> layoutScreen(const ScreenInput& input, int width, int height);

// `text` cut to at most `columns` code points, with every control character
// and every character that may take two columns or none replaced by '?', so
// that text from outside (process names) can neither move the cursor nor break
// the columns. Pure.
[[nodiscard]] std::string terminalSafe(std::string_view text, std::size_t columns);

// A bar `width` columns wide, filled for `fraction` (0..1, clamped) in eighths
// of a column; the rest spaces.
[[nodiscard]] std::string bar(double fraction, int width);
// One column per value, "▁" for 0 to "█" for `top`, newest at the right,
// padded with spaces on the left to `width`.
[[nodiscard]] std::string sparkline(const std::deque<double>& values, double top, int width);

// What a key press asks of the program.
enum class KeyEffect { none, redraw, newInterval, quit };

// The intervals `+` and `-` step through, seconds.
inline constexpr double kIntervalSteps[] = {0.25, 0.5, 1, 2, 5, 10};

// Applies the key `key` (a character code as the terminal gives it; 27 is
// Esc) to `view`. `+`/`-` go to the next longer or shorter step of
// kIntervalSteps from the interval now set. Pure.
[[nodiscard]] KeyEffect applyKey(ViewState& view, int key);

}  // namespace calorim::top
