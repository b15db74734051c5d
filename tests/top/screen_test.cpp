// The layout of calorim-top's screen, its keys and its command line, without a
// terminal: the simulated laptop on its fake clock gives the same reading on
// every run.

#include "top/screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "core/energy_notice.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_metrics.h"
#include "top/options.h"

namespace calorim::top {
namespace {

std::size_t columns(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string joined(const std::vector<ScreenLine>& lines) {
  std::string text;
  for (const ScreenLine& line : lines) text += line.text + "\n";
  return text;
}

// One sample of the simulated laptop with its processes, and what it needs.
class SimulatedLaptop : public ::testing::Test {
 protected:
  SimulatedLaptop() : machine_(fake::builtinProfile()), metrics_(machine_.platform()) {
    ProcessMeter meter(metrics_.platform().processes.get(), *metrics_.platform().clock);
    meter.restart();
    PowerSnapshot snapshot = metrics_.sample(1.0);
    auto processes = meter.next(snapshot.cpuPower()).processes;
    reading_ = std::make_unique<Reading>(Reading{snapshot, processes, PowerSupplyReader(*metrics_.platform().registry).read()});
    description_ = metrics_.description();
    history_.add(powerRows(description_, true, *reading_));
  }

  std::vector<ScreenLine> layout(int width, int height, ViewState view = {}, bool energy = true,
                                 std::optional<std::string> notice = std::nullopt) {
    const ScreenInput input{header_, description_, energy, std::move(notice), reading_.get(), history_, view};
    return layoutScreen(input, width, height);
  }

  fake::SimulatedMachine machine_;
  PowerMetrics metrics_;
  std::unique_ptr<Reading> reading_;
  MachineDescription description_;
  PowerHistory history_;
  MachineHeader header_{"MacBook Pro (simulated)", "Apple M3 Pro", "macOS 15.1.0", true};
};

TEST_F(SimulatedLaptop, EverySizeFitsAndKeepsTheKeysAtTheBottom) {
  for (const bool help : {false, true}) {
    for (int width = 1; width <= 130; width += 3) {
      for (int height = 1; height <= 40; ++height) {
        ViewState view;
        view.help = help;
        const std::vector<ScreenLine> lines = layout(width, height, view);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(height)) << width << "x" << height;
        for (const ScreenLine& line : lines) ASSERT_LE(columns(line.text), static_cast<std::size_t>(width)) << line.text;
        if (height >= 2) {
          EXPECT_EQ(lines.back().style, LineStyle::keys) << width << "x" << height;
        }
      }
    }
  }
}

// At 60x20 the per-CPU bars go first, the processes keep their heading and a
// row; still shorter, power and usage stay.
TEST_F(SimulatedLaptop, ShortScreensGiveUpTheLeastNeededSectionsFirst) {
  const struct {
    int width, height;
    std::vector<const char*> present, absent;
  } sizes[] = {{100, 40, {"SIMULATED", " Total ", " Usage ", "Temperature", "Processes by power", "Xcode"}, {}},
               {60, 20, {"Processes by power", " Total "}, {"  11 \u2595"}},
               {60, 12, {" Total ", " Usage "}, {}}};
  for (const auto& size : sizes) {
    const std::string text = joined(layout(size.width, size.height));
    for (const char* part : size.present) EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    for (const char* part : size.absent) EXPECT_EQ(text.find(part), std::string::npos) << part << "\n" << text;
  }
}

// The keys' effects on the view are tabled in TopKeys; here the screen
// follows them. A 50 °C reading is 122 °F: the conversion and the app's rounding.
TEST_F(SimulatedLaptop, KeysChooseUnitProcessesPauseAndHelp) {
  ViewState view;
  EXPECT_NE(joined(layout(100, 30, view)).find("\u00B0C"), std::string::npos);
  for (int key : {'f', 'p', ' '}) applyKey(view, key);
  const std::string changed = joined(layout(100, 30, view));
  const double cpu = *reading_->snapshot.cpuTemp();
  EXPECT_NE(changed.find("CPU " + fixedDecimal(cpu * 9 / 5 + 32, 0) + "\u00B0F"), std::string::npos) << changed;
  EXPECT_NE(changed.find(fixedDecimal(reading_->snapshot.totalPower(), 2) + " W"), std::string::npos) << changed;
  EXPECT_EQ(changed.find("\u00B0C   "), std::string::npos) << changed;
  EXPECT_EQ(changed.find("Xcode"), std::string::npos) << changed;
  for (const char* part : {"PAUSED", "space go on"}) EXPECT_NE(changed.find(part), std::string::npos) << changed;
  applyKey(view, '?');
  const std::string help = joined(layout(100, 30, view));
  EXPECT_NE(help.find("degrees Celsius or Fahrenheit"), std::string::npos) << help;
  EXPECT_EQ(help.find(" Total "), std::string::npos) << help;
}

TEST_F(SimulatedLaptop, WithoutEnergyPowerIsADashWithTheReason) {
  const auto notice = energyNotice({EnergyAccess::State::denied, "/sys/class/powercap"});
  ASSERT_TRUE(notice);
  // Without power the attribution shares 0 W, so it lists the processes by id.
  std::vector<ProcessPower>& processes = reading_->processes->processes;
  for (ProcessPower& p : processes) p.powerW = p.energyJ = 0;
  std::sort(processes.begin(), processes.end(), [](const auto& x, const auto& y) { return x.pid < y.pid; });
  const std::vector<ScreenLine> lines = layout(200, 30, {}, false, notice);
  const std::string text = joined(lines);
  EXPECT_NE(text.find(" " + *notice), std::string::npos) << text;
  const auto power = std::find_if(lines.begin(), lines.end(), [](const ScreenLine& l) { return l.text.starts_with(" Power "); });
  ASSERT_NE(power, lines.end()) << text;
  EXPECT_TRUE(power->text.ends_with(" \u2014")) << power->text;
  EXPECT_EQ(text.find(" Total "), std::string::npos) << text;
  // The processes are listed, their power is not a measured 0.
  const auto xcode = std::find_if(lines.begin(), lines.end(), [](const ScreenLine& l) { return l.text.find("Xcode") != std::string::npos; });
  ASSERT_NE(xcode, lines.end()) << text;
  EXPECT_TRUE(xcode->text.ends_with("\u2014")) << xcode->text;
  EXPECT_NE(text.find("Processes by CPU time (their power is not measured)"), std::string::npos) << text;
  EXPECT_EQ(xcode[-1].style, LineStyle::heading) << "the busiest process comes first\n" << text;
  EXPECT_EQ(text.find("0.00 W"), std::string::npos) << text;
}

TEST_F(SimulatedLaptop, TheReasonForNoPowerIsWrappedNotCut) {
  const std::string notice = "one two three four five six seven eight nine ten eleven";
  const std::vector<ScreenLine> lines = layout(20, 30, {}, false, notice);
  std::string words;
  for (const ScreenLine& line : lines) {
    if (line.style == LineStyle::notice) words += line.text;
  }
  EXPECT_EQ(words, " one two three four five six seven eight nine ten eleven") << joined(lines);
}

TEST_F(SimulatedLaptop, WhatTheMachineDoesNotMeasureIsLeftOut) {
  description_.measured.anePower = false;
  description_.measured.gpuTemp = false;
  description_.measured.fans = false;
  description_.measured.gpuUsage = false;
  description_.measured.gpuFreqMHz = false;
  description_.cpu = CpuTopology{0, 8, 16};  // one kind of core: no split
  description_.battery = false;
  reading_->supply = {};
  const std::string text = joined(layout(100, 30));
  for (const char* absent : {" ANE ", "Efficiency", "Performance", "GPU 4", "(E ", "Fan", "MHz", "battery", "Supply"}) {
    EXPECT_EQ(text.find(absent), std::string::npos) << absent << "\n" << text;
  }
  EXPECT_NE(text.find(" GPU "), std::string::npos) << text;
}

TEST_F(SimulatedLaptop, BeforeTheFirstSampleOnlyTheHeaderAndAWord) {
  const ScreenInput input{header_, description_, true, std::nullopt, nullptr, history_, {.interval = 0.25}};
  const std::string text = joined(layoutScreen(input, 80, 24));
  EXPECT_NE(text.find("Measuring: the first sample comes within 0.25 s"), std::string::npos) << text;
  EXPECT_NE(text.find("every 0.25 s"), std::string::npos) << text;
}

TEST(TopText, BarsSparklinesAndTextFromOutside) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct BarCase {
    double fraction;
    int width;
    std::string text;
  };
  for (const BarCase& c : std::initializer_list<BarCase>{
           {0, 4, "    "}, {1, 4, "\u2588\u2588\u2588\u2588"}, {0.5, 4, "\u2588\u2588  "}, {2, 2, "\u2588\u2588"},
           {-1, 2, "  "}, {nan, 2, "  "}, {0.25, 2, "\u258C "}, {1.0 / 16, 2, "\u258F "}, {1, 0, ""}, {1, -3, ""}}) {
    EXPECT_EQ(bar(c.fraction, c.width), c.text) << c.fraction << " in " << c.width;
  }

  struct SparkCase {
    std::deque<double> values;
    double top;
    int width;
    std::string text;
  };
  for (const SparkCase& c : std::initializer_list<SparkCase>{
           {{}, 1, 3, "   "},
           {{0, 1}, 1, 3, " \u2581\u2588"},
           {{1, 2, 3, 4}, 4, 2, "\u2586\u2588"},  // the newest fit
           {{5, nan}, 0, 2, "\u2581\u2581"},
           {{8}, 4, 1, "\u2588"},
           {{1}, 1, 0, ""}}) {
    EXPECT_EQ(sparkline(c.values, c.top, c.width), c.text);
  }

  struct SafeCase {
    std::string in;
    std::size_t width;
    std::string out;
  };
  for (const SafeCase& c : std::initializer_list<SafeCase>{
           {"kworker/0:1", 40, "kworker/0:1"},
           {"abcdef", 3, "abc"},
           {"\x1b[2Jevil\r\n", 40, "?[2Jevil??"},
           {"caf\u00E9 \u0416", 40, "caf\u00E9 \u0416"},
           {"\u4E2D\u6587", 40, "??"},             // wide characters
           {"e\u0301", 40, "e?"},                 // a combining accent takes no column
           {"\xff\xfe" "ok", 40, "??ok"},         // not UTF-8
           {"\xe2\x82", 40, "??"},                // cut short
           {"\u00E9\u00E9\u00E9", 2, "\u00E9\u00E9"}}) {
    EXPECT_EQ(terminalSafe(c.in, c.width), c.out) << c.in;
  }
}

TEST(TopHistory, KeepsTheRecentFiniteWattsOfEachRow) {
  PowerHistory history;
  EXPECT_EQ(history.peak(), 0);
  for (std::size_t i = 0; i < PowerHistory::kLength + 10; ++i) {
    history.add({{"CPU", static_cast<double>(i)}, {"GPU", std::numeric_limits<double>::infinity()}, {"ANE", std::nullopt}});
  }
  history.add({{"DRAM", -3.0}});
  EXPECT_EQ(history.of("CPU").size(), PowerHistory::kLength);
  EXPECT_EQ(history.of("CPU").back(), PowerHistory::kLength + 9);
  EXPECT_TRUE(history.of("GPU").empty());
  EXPECT_TRUE(history.of("ANE").empty());
  EXPECT_EQ(history.of("DRAM").back(), 0);
  EXPECT_EQ(history.peak(), PowerHistory::kLength + 9);
}

TEST(TopKeys, EachKeyChangesTheViewAsItSays) {
  struct Case {
    double interval;
    int key;
    KeyEffect effect;
    double after;
  };
  for (const Case& c : std::initializer_list<Case>{
           {1, '+', KeyEffect::newInterval, 2}, {1, '=', KeyEffect::newInterval, 2},
           {1, '-', KeyEffect::newInterval, 0.5}, {0.3, '-', KeyEffect::newInterval, 0.25},
           {0.3, '+', KeyEffect::newInterval, 0.5}, {0.25, '-', KeyEffect::none, 0.25},
           {10, '+', KeyEffect::none, 10}, {7, '+', KeyEffect::newInterval, 10},
           {1, 'q', KeyEffect::quit, 1}, {1, 27, KeyEffect::quit, 1},
           {1, 'x', KeyEffect::none, 1}, {1, -1, KeyEffect::none, 1}}) {
    ViewState view;
    view.interval = c.interval;
    EXPECT_EQ(applyKey(view, c.key), c.effect) << c.interval << " " << c.key;
    EXPECT_EQ(view.interval, c.after) << c.interval << " " << c.key;
  }
  ViewState view;
  for (int key : {' ', 'f', 'p', 'h'}) EXPECT_EQ(applyKey(view, key), KeyEffect::redraw);
  EXPECT_TRUE(view.paused && view.help && !view.processes && view.unit == TempUnit::fahrenheit);
  for (int key : {' ', 'F', 'P', 'H'}) EXPECT_EQ(applyKey(view, key), KeyEffect::redraw);
  EXPECT_TRUE(!view.paused && !view.help && view.processes && view.unit == TempUnit::celsius);
}

TEST(TopOptions, ReadsEveryOptionAndRefusesBadValues) {
  struct Case {
    std::vector<std::string> args;
    std::optional<Options> options;  // absent: a usage error holding `error`
    std::string error;
  };
  for (const Case& c : std::initializer_list<Case>{
           {{}, Options{}, ""},
           {{"--interval", "0.25", "--json", "--count=3"}, Options{.interval = 0.25, .json = true, .count = 3}, ""},
           {{"--simulate"}, Options{.simulate = true}, ""},
           {{"--simulate", "m.json", "--interval=10"}, Options{.interval = 10, .simulate = true, .profilePath = "m.json"}, ""},
           {{"--interval", "0.2"}, std::nullopt, "bad --interval '0.2'"},
           {{"--interval", "11"}, std::nullopt, "bad --interval '11'"},
           {{"--interval", "nan"}, std::nullopt, "bad --interval"},
           {{"--count", "0"}, std::nullopt, "bad --count '0'"},
           {{"--count", "-1"}, std::nullopt, "bad --count"},
           {{"--count", "3x"}, std::nullopt, "bad --count"},
           {{"--count", "99999999999999999999"}, std::nullopt, "bad --count"},
           {{"--json=yes"}, std::nullopt, "--json"},
           {{"--bogus"}, std::nullopt, "--bogus"},
           {{"stray"}, std::nullopt, "stray"}}) {
    const auto parsed = parseOptions(c.args);
    if (c.options) {
      ASSERT_TRUE(std::holds_alternative<Options>(parsed)) << c.args.size();
      EXPECT_EQ(std::get<Options>(parsed), *c.options);
    } else {
      ASSERT_TRUE(std::holds_alternative<cli::UsageError>(parsed)) << c.error;
      EXPECT_NE(std::get<cli::UsageError>(parsed).message.find(c.error), std::string::npos)
          << std::get<cli::UsageError>(parsed).message;
    }
  }
  EXPECT_EQ(std::get<cli::InfoRequest>(parseOptions({"--help"})), cli::InfoRequest::help);
}

}  // namespace
}  // namespace calorim::top
