#include "top/screen.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "core/ioreport_sampler.h"

namespace calorim::top {
namespace {

constexpr std::string_view kAbsent = "\u2014";  // a figure that cannot be read
constexpr std::string_view kDegree = "\u00B0";
constexpr std::string_view kDot = " \u00B7 ";
// Eighths of a column, for bars; sparkline levels from low to high.
constexpr std::string_view kEighths[] = {"", "\u258F", "\u258E", "\u258D", "\u258C", "\u258B", "\u258A", "\u2589"};
constexpr std::string_view kFull = "\u2588";
constexpr std::string_view kLevels[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                                        "\u2585", "\u2586", "\u2587", "\u2588"};

constexpr int kNameColumns = 14;
constexpr int kWattColumns = 9;  // "123.45 W" and a space before it
constexpr int kCoreBarColumns = 6;
constexpr int kCpuColumns = 7;
constexpr int kLongestName = 32;
constexpr std::size_t kLongestNotice = 1000;

// Columns of text the layout wrote: each code point takes one.
std::size_t columns(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// `text` cut to `width` columns (it holds only one-column characters).
std::string clip(std::string text, std::size_t width) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((text[i] & 0xC0) == 0x80) continue;
    if (seen++ == width) return text.substr(0, i);
  }
  return text;
}

std::string padRight(std::string text, std::size_t width) {
  const std::size_t used = columns(text);
  if (used < width) text.append(width - used, ' ');
  return text;
}

std::string padLeft(const std::string& text, std::size_t width) {
  const std::size_t used = columns(text);
  return used < width ? std::string(width - used, ' ') + text : text;
}

std::string watts(std::optional<double> w) { return w ? fixedDecimal(*w, 2) + " W" : std::string(kAbsent); }
std::string percent(double fraction) { return fixedDecimal(fraction * 100, 0) + "%"; }

std::string temperature(double celsius, TempUnit unit) {
  return fixedDecimal(convert(unit, celsius), 0) + std::string(kDegree) + (unit == TempUnit::fahrenheit ? "F" : "C");
}

// `text` in lines of at most `width` columns, broken at spaces where it can be.
std::vector<std::string> wrapped(const std::string& text, int width) {
  const auto w = static_cast<std::size_t>(std::max(width, 1));
  std::vector<std::string> lines;
  std::string rest = text;
  while (columns(rest) > w) {
    const std::string head = clip(rest, w + 1);
    const std::size_t space = head.rfind(' ');
    const std::size_t cut = space != std::string::npos && space > 0 ? space : clip(rest, w).size();
    lines.push_back(rest.substr(0, cut));
    rest.erase(0, cut + (space != std::string::npos && space > 0 ? 1 : 0));
  }
  lines.push_back(std::move(rest));
  return lines;
}

// Consecutive sections; the layout leaves out whole sections, the least
// needed first (the highest `drop`), when the screen is too short, and cuts
// every line to the width.
struct Section {
  std::vector<ScreenLine> lines;
  int drop = 0;  // 0: never left out
  bool grows = false;  // takes the rows left over (the process list); its first lines are the minimum
  std::size_t minimum = 0;
};

std::vector<ScreenLine> plainLines(std::vector<std::string> texts) {
  std::vector<ScreenLine> lines;
  for (std::string& text : texts) lines.push_back({std::move(text)});
  return lines;
}

// An interval without trailing zeros: "1 s", "0.25 s".
std::string secondsText(double seconds) {
  std::string number = fixedDecimal(seconds, 2);
  while (number.back() == '0') number.pop_back();
  if (number.back() == '.') number.pop_back();
  return number + " s";
}

std::string titleText(const MachineHeader& header, const ViewState& view, std::size_t width) {
  std::string left = "calorim-top  " + header.machine;
  if (!header.chip.empty()) left += std::string(kDot) + header.chip;
  if (!header.os.empty()) left += std::string(kDot) + header.os;
  const std::string shownRight = view.paused ? "PAUSED" : "every " + secondsText(view.interval);
  left = terminalSafe(left, width > shownRight.size() + 2 ? width - shownRight.size() - 2 : width);
  const std::size_t used = columns(left) + shownRight.size();
  if (used + 2 > width) return left;
  return left + std::string(width - used, ' ') + shownRight;
}

Section powerSection(const ScreenInput& in, int width) {
  Section section;
  if (in.energyNotice && !in.hasEnergy) {
    for (std::string& line : wrapped(terminalSafe(*in.energyNotice, kLongestNotice), width - 2)) {
      section.lines.push_back({" " + std::move(line), LineStyle::notice});
    }
  }
  if (in.latest == nullptr) {
    section.lines.push_back({" Measuring: the first sample comes within " + secondsText(in.view.interval)});
    return section;
  }
  const int graphs = width - 1 - kNameColumns - kWattColumns - 4;
  const int barWidth = graphs >= 12 ? graphs / 2 : 0;
  const int sparkWidth = graphs >= 12 ? graphs - barWidth : 0;
  const double top = std::max(1.0, in.history.peak());
  for (const PowerRow& row : powerRows(in.description, in.hasEnergy, *in.latest)) {
    std::string line = " " + padRight((row.part ? "  " : "") + row.name, kNameColumns);
    line += padLeft(watts(row.watts), kWattColumns);
    if (barWidth > 0 && row.watts) {
      line += "  " + bar(*row.watts / top, barWidth) + "  ";
      // On the bars' scale, so that the rows' histories compare as their bars do.
      line += sparkline(in.history.of(row.name), top, sparkWidth);
    }
    section.lines.push_back({std::move(line), row.name == "Total" ? LineStyle::heading : LineStyle::plain});
  }
  return section;
}

// CPU and GPU usage on one line, with the GPU's clock.
Section usageSection(const ScreenInput& in) {
  const PowerSnapshot& s = in.latest->snapshot;
  const MeasuredFigures& m = in.description.measured;
  std::string line = " " + padRight("Usage", kNameColumns);
  if (m.cpuUsage) line += "CPU " + percent(s.cpuUsage());
  if (in.description.cpu.hybrid()) {
    if (m.eCpuUsage) line += "  (E " + percent(s.eCpuUsage());
    if (m.pCpuUsage) line += std::string(m.eCpuUsage ? "  " : "  (") + "P " + percent(s.pCpuUsage());
    if (m.eCpuUsage || m.pCpuUsage) line += ")";
  }
  if (m.gpuUsage) line += "   GPU " + percent(s.gpuUsage());
  if (m.gpuFreqMHz) line += " at " + fixedDecimal(s.gpuFreqMHz(), 0) + " MHz";
  return {{{std::move(line), LineStyle::plain}}, 3};
}

// One small bar per logical CPU, as many to a line as fit.
Section coreSection(const ScreenInput& in, int width) {
  const std::vector<double>& cores = in.latest->snapshot.cpuUsagePerCore();
  Section section;
  section.drop = 6;
  // " nnn ▕██████▏ 100%": a space, the number, the bar in its frame, the usage.
  const int cellColumns = 1 + 3 + 2 + kCoreBarColumns + 1 + 4;
  const int perLine = std::max(1, (width - 1) / cellColumns);
  std::string line;
  for (std::size_t i = 0; i < cores.size(); ++i) {
    const double usage = std::clamp(cores[i], 0.0, 1.0);
    std::string cell = padLeft(std::to_string(i), 3) + " \u2595" + bar(usage, kCoreBarColumns) + "\u258F" +
                       padLeft(percent(usage), 4);
    line += " " + cell;
    if ((i + 1) % perLine == 0 || i + 1 == cores.size()) {
      section.lines.push_back({std::move(line), LineStyle::plain});
      line.clear();
    }
  }
  return section;
}

// Temperatures, fans, battery and adapter, each on a line of its own when the
// machine has them.
Section sensorSection(const ScreenInput& in) {
  const PowerSnapshot& s = in.latest->snapshot;
  const MeasuredFigures& m = in.description.measured;
  Section section;
  section.drop = 4;
  std::string temps;
  if (m.cpuTemp && s.cpuTemp()) temps += "CPU " + temperature(*s.cpuTemp(), in.view.unit) + "   ";
  if (m.gpuTemp && s.gpuTemp()) temps += "GPU " + temperature(*s.gpuTemp(), in.view.unit) + "   ";
  if (m.coreTemps && !s.coreTemps().empty()) {
    const auto [low, high] = std::minmax_element(s.coreTemps().begin(), s.coreTemps().end());
    temps += "cores " + fixedDecimal(convert(in.view.unit, *low), 0) + "\u2013" + temperature(*high, in.view.unit);
  }
  if (!temps.empty()) section.lines.push_back({" " + padRight("Temperature", kNameColumns) + temps});
  if (m.fans && !s.fans().empty()) {
    std::string fans;
    for (const FanInfo& fan : s.fans()) fans += (fans.empty() ? "" : "   ") + fixedDecimal(fan.rpm(), 0) + " rpm";
    section.lines.push_back({" " + padRight(s.fans().size() > 1 ? "Fans" : "Fan", kNameColumns) + fans});
  }
  const PowerSupplyReading& supply = in.latest->supply;
  std::string power;
  if (in.description.battery && supply.chargeRatio) {
    power += "battery " + fixedDecimal(*supply.chargeRatio * 100, 0) + "%";
    if (supply.charging) power += *supply.charging ? ", charging" : ", not charging";
  }
  if (supply.adapterWatts) power += std::string(power.empty() ? "" : "   ") + fixedDecimal(*supply.adapterWatts, 0) + " W adapter";
  if (!power.empty()) section.lines.push_back({" " + padRight("Supply", kNameColumns) + power});
  return section;
}

Section processSection(const ScreenInput& in, int width) {
  Section section;
  section.drop = 5;
  section.grows = true;
  if (!in.view.processes) {
    section.lines.push_back({" Processes hidden: p shows them"});
    section.minimum = 1;
    return section;
  }
  if (!in.latest->processes) {
    section.lines.push_back({" Processes: this machine's processes cannot be listed", LineStyle::heading});
    section.minimum = 1;
    return section;
  }
  const ProcessAttribution& a = *in.latest->processes;
  std::vector<ProcessPower> processes = a.processes;
  if (in.hasEnergy) {
    const std::string how = a.method == AttributionMethod::osEnergy ? "measured by the system"
                                                                    : "estimated from CPU time (" +
                                                                          std::string(methodName(a.method)) + ")";
    section.lines.push_back({" Processes by power, " + how, LineStyle::heading});
  } else {
    // Without power every share is 0: the CPU time tells which processes work.
    std::stable_sort(processes.begin(), processes.end(),
                     [](const ProcessPower& x, const ProcessPower& y) { return x.cpuPercent > y.cpuPercent; });
    section.lines.push_back({" Processes by CPU time (their power is not measured)", LineStyle::heading});
  }
  const int nameWidth = std::clamp(width - 1 - 8 - 2 - kCpuColumns - kWattColumns, 8, kLongestName);
  section.lines.push_back(
      {" " + padLeft("PID", 8) + "  " + padRight("NAME", nameWidth) + padLeft("CPU", kCpuColumns) + padLeft("POWER", kWattColumns),
       LineStyle::heading});
  for (const ProcessPower& p : processes) {
    section.lines.push_back({" " + padLeft(std::to_string(p.pid), 8) + "  " +
                             padRight(terminalSafe(p.name, nameWidth), nameWidth) +
                             padLeft(fixedDecimal(p.cpuPercent, 0) + "%", kCpuColumns) + padLeft(in.hasEnergy ? watts(p.powerW) : std::string(kAbsent), kWattColumns)});
  }
  section.minimum = 3;
  return section;
}

Section helpSection() {
  Section section;
  section.grows = true;
  section.lines = plainLines({" Keys",
                              "   q, Esc    quit",
                              "   space     pause, or go on",
                              "   + and -   a longer or shorter interval (0.25 to 10 s)",
                              "   f         degrees Celsius or Fahrenheit",
                              "   p         the processes on or off",
                              "   h, ?      this help, or back to the figures",
                              "",
                              " Power is the mean of each interval, as the machine's",
                              " energy counters measure it. A process's power is its",
                              " share of the CPU power. \u2014 marks what cannot be read."});
  section.minimum = 1;
  return section;
}

std::string keysText(const ViewState& view) {
  return std::string("q quit  space ") + (view.paused ? "go on" : "pause") + "  +/- interval  f " +
         (view.unit == TempUnit::celsius ? "\u00B0F" : "\u00B0C") + "  p processes  h help";
}

}  // namespace

std::vector<PowerRow> powerRows(const MachineDescription& description, bool hasEnergy, const Reading& reading) {
  if (!hasEnergy) return {{"Power", std::nullopt}};
  const MeasuredFigures& m = description.measured;
  const PowerSnapshot& s = reading.snapshot;
  std::vector<PowerRow> rows;
  if (const std::vector<ChannelPower>& domains = s.energyBreakdown().domains(); !domains.empty()) {
    std::optional<double> platform;
    for (const ChannelPower& domain : domains) {
      if (domain.name() == IOReportSampler::kPlatformDomain) {
        platform = domain.watts();
      } else {
        rows.push_back({terminalSafe(domain.name(), kNameColumns - 1), domain.watts()});
      }
    }
    for (const GpuFigures& gpu : reading.gpus) {
      const auto described = std::find_if(description.gpus.begin(), description.gpus.end(),
                                          [&](const GpuDescription& d) { return d.name == gpu.name; });
      if (gpu.watts && described != description.gpus.end() && !described->integrated) {
        rows.push_back({terminalSafe(gpu.name, kNameColumns - 1), gpu.watts});
      }
    }
    if (m.totalPower) rows.push_back({"Total", s.totalPower()});
    if (platform) rows.push_back({std::string(IOReportSampler::kPlatformDomain), platform});
    return rows;
  }
  if (m.cpuPower) rows.push_back({"CPU", s.cpuPower()});
  if (m.eCpuPower && description.cpu.hybrid()) rows.push_back({"Efficiency", s.eCpuPower(), true});
  if (m.pCpuPower && description.cpu.hybrid()) rows.push_back({"Performance", s.pCpuPower(), true});
  if (m.gpuPower) rows.push_back({"GPU", s.gpuPower()});
  if (m.anePower) rows.push_back({"ANE", s.anePower()});
  if (m.dramPower) rows.push_back({"DRAM", s.dramPower()});
  if (m.totalPower) rows.push_back({"Total", s.totalPower()});
  return rows;
}

void PowerHistory::add(const std::vector<PowerRow>& rows) {
  for (const PowerRow& row : rows) {
    if (!row.watts || !std::isfinite(*row.watts)) continue;
    std::deque<double>& recent = rows_[row.name];
    recent.push_back(std::max(0.0, *row.watts));
    if (recent.size() > kLength) recent.pop_front();
  }
}

const std::deque<double>& PowerHistory::of(const std::string& name) const {
  static const std::deque<double> kNone;
  const auto found = rows_.find(name);
  return found == rows_.end() ? kNone : found->second;
}

double PowerHistory::peak() const {
  double highest = 0;
  for (const auto& [name, recent] : rows_) {
    for (double w : recent) highest = std::max(highest, w);
  }
  return highest;
}

std::string terminalSafe(std::string_view text, std::size_t width) {
  std::string out;
  std::size_t used = 0;
  for (std::size_t i = 0; i < text.size() && used < width; ++used) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
    if (length == 0 || i + length > text.size()) {
      out.push_back('?');
      ++i;
      continue;
    }
    char32_t point = length == 1 ? byte : byte & (0xFF >> (length + 1));
    bool wellFormed = true;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      wellFormed = wellFormed && (next & 0xC0) == 0x80;
      point = (point << 6) | (next & 0x3F);
    }
    // Printable ASCII, and the Latin, Greek and Cyrillic letters that every
    // terminal draws one column wide (combining marks U+0300..U+036F excepted).
    const bool narrow = (point >= 0x20 && point < 0x7F) || (point >= 0xA0 && point < 0x300) ||
                        (point >= 0x370 && point < 0x530);
    if (wellFormed && narrow) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out.push_back('?');
      i += wellFormed ? length : 1;
    }
  }
  return out;
}

std::string bar(double fraction, int width) {
  if (width <= 0) return {};
  if (!std::isfinite(fraction)) fraction = 0;
  const int eighths = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * width * 8));
  std::string out;
  for (int i = 0; i < eighths / 8; ++i) out += kFull;
  out += kEighths[eighths % 8];
  return padRight(std::move(out), static_cast<std::size_t>(width));
}

std::string sparkline(const std::deque<double>& values, double top, int width) {
  if (width <= 0) return {};
  const std::size_t shown = std::min(values.size(), static_cast<std::size_t>(width));
  std::string out(static_cast<std::size_t>(width) - shown, ' ');
  for (std::size_t i = values.size() - shown; i < values.size(); ++i) {
    const double level = top > 0 && std::isfinite(values[i]) ? std::clamp(values[i] / top, 0.0, 1.0) : 0;
    out += kLevels[std::lround(level * 7)];
  }
  return out;
}

std::vector<ScreenLine> layoutScreen(const ScreenInput& in, int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  const auto w = static_cast<std::size_t>(width);
  std::vector<ScreenLine> top{{titleText(in.header, in.view, w), LineStyle::title}};
  if (in.header.simulated) {
    top.push_back({clip(padRight(" SIMULATED MACHINE: generated figures, none measured", w), w), LineStyle::banner});
  }
  const ScreenLine keys{clip(keysText(in.view), w), LineStyle::keys};

  std::vector<Section> sections;
  if (in.view.help) {
    sections.push_back(helpSection());
  } else {
    sections.push_back(powerSection(in, width));
    if (in.latest != nullptr) {
      sections.push_back({{{}}, 7});  // a blank line between power and the rest
      sections.push_back(usageSection(in));
      sections.push_back(coreSection(in, width));
      sections.push_back(sensorSection(in));
      sections.push_back({{{}}, 7});
      sections.push_back(processSection(in, width));
    }
  }

  // Leave out sections, the least needed first, until the rest fits.
  const auto rows = static_cast<std::size_t>(height);
  const std::size_t fixed = top.size() + 1;
  const auto needed = [&] {
    std::size_t sum = fixed;
    for (const Section& s : sections) sum += s.grows ? s.minimum : s.lines.size();
    return sum;
  };
  while (needed() > rows) {
    const auto least = std::max_element(sections.begin(), sections.end(),
                                        [](const Section& a, const Section& b) { return a.drop < b.drop; });
    if (least == sections.end() || least->drop == 0) break;
    sections.erase(least);
  }

  std::vector<ScreenLine> lines = std::move(top);
  std::size_t left = rows > needed() ? rows - needed() : 0;
  for (Section& s : sections) {
    std::size_t count = s.lines.size();
    if (s.grows) count = std::min(count, s.minimum + left);
    for (std::size_t i = 0; i < count && lines.size() + 1 < rows; ++i) {
      lines.push_back({clip(std::move(s.lines[i].text), w), s.lines[i].style});
    }
  }
  if (rows > 1) {
    lines.resize(std::min(lines.size(), rows - 1));
    while (lines.size() + 1 < rows) lines.push_back({});
  }
  lines.push_back(keys);
  lines.resize(std::min(lines.size(), rows));
  return lines;
}

KeyEffect applyKey(ViewState& view, int key) {
  switch (key) {
    case 'q': case 'Q': case 27: return KeyEffect::quit;
    case ' ': view.paused = !view.paused; return KeyEffect::redraw;
    case 'f': case 'F':
      view.unit = view.unit == TempUnit::celsius ? TempUnit::fahrenheit : TempUnit::celsius;
      return KeyEffect::redraw;
    case 'p': case 'P': view.processes = !view.processes; return KeyEffect::redraw;
    case 'h': case 'H': case '?': view.help = !view.help; return KeyEffect::redraw;
    case '+': case '=':
      for (double step : kIntervalSteps) {
        if (step > view.interval) {
          view.interval = step;
          return KeyEffect::newInterval;
        }
      }
      return KeyEffect::none;
    case '-': case '_':
      for (auto step = std::rbegin(kIntervalSteps); step != std::rend(kIntervalSteps); ++step) {
        if (*step < view.interval) {
          view.interval = *step;
          return KeyEffect::newInterval;
        }
      }
      return KeyEffect::none;
    default: return KeyEffect::none;
  }
}

}  // namespace calorim::top
