// calorim-run's command line, its sums of energy and CPU time, and its report
// in both forms against golden files.

#include <gtest/gtest.h>

#include <variant>

#include "core/json.h"
#include "run/options.h"
#include "run/report.h"
#include "tests/support/golden.h"

namespace calorim::run {
namespace {

using Parsed = std::variant<Options, InfoRequest, UsageError>;

TEST(RunOptions, CommandLines) {
  const std::string badInterval = "': expected seconds from 0.1 to 60";
  const std::vector<std::pair<std::vector<std::string>, Parsed>> cases = {
      {{"true"}, Options{.command = {"true"}}},
      {{"--", "-dash", "x"}, Options{.command = {"-dash", "x"}}},
      {{"--simulate", "--", "ls"}, Options{.simulate = true, .command = {"ls"}}},
      {{"--simulate", "m.json", "make", "-j8"},
       Options{.simulate = true, .profilePath = "m.json", .command = {"make", "-j8"}}},
      {{"--json", "--output=r.json", "--interval", "0.5", "ls", "--json"},
       Options{.json = true, .outputPath = "r.json", .interval = 0.5, .command = {"ls", "--json"}}},
      {{"--interval", "60", "x"}, Options{.interval = 60, .command = {"x"}}},
      {{}, UsageError{"no COMMAND to run"}},
      {{"--json"}, UsageError{"no COMMAND to run"}},
      {{"--", ""}, UsageError{"the COMMAND's name is empty"}},
      {{"--interval", "0.05", "x"}, UsageError{"bad --interval '0.05" + badInterval}},
      {{"--interval", "nan", "x"}, UsageError{"bad --interval 'nan" + badInterval}},
      {{"--interval", "61", "x"}, UsageError{"bad --interval '61" + badInterval}},
      {{"--output"}, UsageError{"--output needs FILE"}},
      {{"--output", "", "x"}, UsageError{"--output needs FILE"}},
      {{"--bogus", "x"}, UsageError{"unknown option '--bogus'"}},
      {{"--help", "x"}, InfoRequest::help},
      {{"x", "--help"}, Options{.command = {"x", "--help"}}},
  };
  for (const auto& [args, expected] : cases) {
    EXPECT_EQ(parseOptions(args), expected) << ::testing::PrintToString(args);
  }
}

// Stretches add up; the peak is that of the stretches long enough to judge,
// and never below the mean.
TEST(RunEnergy, StretchesAddUpAndPeakIsOfFullStretches) {
  EnergyTally tally(1.0);
  EXPECT_EQ(tally.sum(), EnergyMetrics(0, 0, 0, 0, 0, 0));
  EXPECT_EQ(tally.peakWatts(), 0);
  tally.add(EnergyMetrics(0.25, 1, 0, 0, 0, 2.5));  // 10 W, too short to judge by
  EXPECT_DOUBLE_EQ(tally.peakWatts(), 10);          // nothing longer yet: the mean
  tally.add(EnergyMetrics(1.0, 5, 1, 0.5, 2, 10));
  tally.add(EnergyMetrics(1.0, 8, 1, 0.5, 2, 12));
  tally.add(EnergyMetrics(0.5, 2, 0, 0, 1, 7));     // half the interval counts: 14 W
  EXPECT_DOUBLE_EQ(tally.peakWatts(), 14);
  const EnergyMetrics sum = tally.sum();
  EXPECT_EQ(sum, EnergyMetrics(2.75, 16, 2, 1, 5, 31.5));  // every figure exact in binary
  // A short burst at the end raises the mean above every full stretch.
  EnergyTally burst(1.0);
  burst.add(EnergyMetrics(1.0, 0, 0, 0, 0, 5));
  burst.add(EnergyMetrics(0.1, 0, 0, 0, 0, 5));
  EXPECT_DOUBLE_EQ(burst.peakWatts(), 10 / 1.1);

  // Only what the machine measures, in one order.
  MeasuredFigures pc;
  pc.cpuPower = pc.dramPower = pc.totalPower = true;
  EXPECT_EQ(measuredDomains(pc, sum), (std::vector<DomainEnergy>{{"cpu", "CPU", 16}, {"dram", "DRAM", 5}}));
  EXPECT_TRUE(measuredDomains(MeasuredFigures{}, sum).empty());
}

TEST(RunEnergy, CpuTimeShareStaysAFraction) {
  using Ticks = std::optional<std::vector<CpuTicks>>;
  const Ticks start = std::vector<CpuTicks>{{100, 50, 1000, 10}, {200, 0, 900, 0}};
  // Over 2 s: CPU 0 busy 30 of 100 ticks, CPU 1 busy 70 of 100: 2 s of CPU time in all.
  const Ticks busy = std::vector<CpuTicks>{{120, 50, 1070, 20}, {250, 20, 930, 0}};  // nice ticks are busy too
  const Ticks idle = std::vector<CpuTicks>{{100, 50, 1100, 10}, {200, 0, 1000, 0}};
  const struct {
    const char* what;
    double commandSeconds;
    double elapsed;
    Ticks before, after;
    std::optional<double> share;
  } kCases[] = {
      {"a quarter", 0.5, 2, start, busy, 0.25},
      {"all of it", 2, 2, start, busy, 1.0},
      {"more than the ticks show", 3, 2, start, busy, 1.0},
      {"an idle machine rounds to no ticks", 0.004, 2, start, idle, 1.0},
      {"nothing used at all", 0, 2, start, idle, 0.0},
      {"ticks that stand still", 0.5, 2, start, start, std::nullopt},
      {"no ticks before", 0.5, 2, std::nullopt, busy, std::nullopt},
      {"CPUs came and went", 0.5, 2, start, std::vector<CpuTicks>{{0, 0, 0, 0}}, std::nullopt},
      {"a counter going back counts nothing", 0.5, 2, busy, start, std::nullopt},
      {"no time passed", 0.5, 0, start, busy, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::optional<double> share = cpuTimeShare(c.commandSeconds, c.elapsed, c.before, c.after);
    ASSERT_EQ(share.has_value(), c.share.has_value());
    if (share) {
      EXPECT_NEAR(*share, *c.share, 1e-12);
    }
  }
}

RunReport measuredRun() {
  RunReport report;
  report.command = {"make", "-j8", "CFLAGS=-O2 -g", "it's", "\x1b[2J"};
  report.elapsedSeconds = 12.3456;
  report.exitStatus = 0;
  report.commandCpuSeconds = 20.5;
  report.cpuShare = 0.8125;
  report.domains = {{"cpu", "CPU", 180.25}, {"gpu", "GPU", 3.5}, {"dram", "DRAM", 12}};
  report.totalJoules = 240.75;
  report.meanWatts = 19.5;
  report.peakWatts = 31.25;
  return report;
}

// Every form a report takes, each against its golden file: text for people
// and one JSON object, measured, simulated, ended by a signal, and without
// energy (nothing measured shows, not even a 0).
TEST(RunReport, TextAndJsonGoldens) {
  RunReport simulated = measuredRun();
  simulated.command = {"sleep", "1"};
  simulated.simulatedMachine = "Apple M3 Pro";
  simulated.domains.insert(simulated.domains.begin() + 2, DomainEnergy{"ane", "ANE", 0});

  RunReport signalled;
  signalled.command = {"sleep", "30"};
  signalled.elapsedSeconds = 1.5;
  signalled.exitStatus = 130;
  signalled.signal = 2;
  signalled.energyNotice = "No power figures: this machine has no energy counters (a virtual machine, or a "
                           "processor without them). Load, temperatures, fans, battery and memory still show.";

  RunReport noTicks = measuredRun();
  noTicks.cpuShare.reset();
  noTicks.domains.erase(noTicks.domains.begin());  // no CPU domain, no CPU joules of the command

  const struct {
    const char* name;
    RunReport report;
  } kReports[] = {{"measured", measuredRun()}, {"simulated", simulated}, {"signalled", signalled},
                  {"no_share", noTicks}};
  for (const auto& [name, report] : kReports) {
    SCOPED_TRACE(name);
    EXPECT_GOLDEN(std::string(GOLDEN_DIR "/") + name + ".txt", reportText(report));
    const std::string json = reportJson(report);
    EXPECT_GOLDEN(std::string(GOLDEN_DIR "/") + name + ".json", json);
    EXPECT_TRUE(readJson(json).has_value()) << json;
  }
  // Not a number is no report.
  RunReport broken = measuredRun();
  broken.totalJoules = std::numeric_limits<double>::infinity();
  EXPECT_THROW((void)reportJson(broken), std::domain_error);
}

}  // namespace
}  // namespace calorim::run
