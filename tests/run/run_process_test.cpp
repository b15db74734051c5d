// The --output file (replaced whole, links followed, devices written as they
// are, nothing left beside it, a clear reason where it cannot be made) and
// the real calorim-run program: exit statuses, signals passed on, the report
// file, and on a Linux fixture machine mounted over /sys and /proc (a
// private mount namespace, as root) the energy of a command at a known power,
// and the run without energy counters.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "core/json.h"
#include "run/report_file.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "tests/support/child_process.h"

namespace calorim::run {
namespace {

namespace fs = std::filesystem;
using testing::ChildOptions;
using testing::ChildProcess;

std::string contents(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(ReportFile, ReplacedWholeOrNotAtAll) {
  const testing::MachineTree tree;  // an empty temporary folder
  const fs::path& folder = tree.root();
  const fs::path report = folder / "report.txt";
  std::ofstream(report) << "an older, longer report\n";
  fs::create_symlink("report.txt", folder / "link.txt");

  // Nothing shows before the commit: the old file stays as it was.
  {
    auto file = ReportFile::create(report.string());
    ASSERT_TRUE(std::holds_alternative<ReportFile>(file));
    EXPECT_EQ(contents(report), "an older, longer report\n");
    EXPECT_EQ(std::get<ReportFile>(file).commit("new\n"), std::nullopt);
    EXPECT_EQ(std::get<ReportFile>(file).commit("again\n"), "the report was already written");
  }
  EXPECT_EQ(contents(report), "new\n");
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(fs::status(report).permissions(), static_cast<fs::perms>(0666 & ~mask & 0777));

  // The report file made at `path` and `text` committed to it: nullopt, or why it failed.
  const auto write = [](const std::string& path, const std::string& text) -> std::optional<std::string> {
    auto file = ReportFile::create(path);
    if (const auto* reason = std::get_if<std::string>(&file)) return *reason;
    return std::get<ReportFile>(file).commit(text);
  };
  // Through a link the file it leads to is replaced, and the link stays.
  EXPECT_EQ(write((folder / "link.txt").string(), "linked\n"), std::nullopt);
  EXPECT_TRUE(fs::is_symlink(folder / "link.txt"));
  EXPECT_EQ(contents(report), "linked\n");

  // Given up before the commit (the command could not start): nothing changes.
  { auto file = ReportFile::create((folder / "never.txt").string()); }
  EXPECT_FALSE(fs::exists(folder / "never.txt"));

  // A device is written to, not replaced; a file reached through /dev/fd is
  // appended to, after what the command wrote there.
  EXPECT_EQ(write("/dev/null", "gone\n"), std::nullopt);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  const int log = ::open((folder / "log.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_EQ(::write(log, "output\n", 7), 7);
  EXPECT_EQ(write("/dev/fd/" + std::to_string(log), "report\n"), std::nullopt);
  ::close(log);
  EXPECT_EQ(contents(folder / "log.txt"), "output\nreport\n");
  fs::remove(folder / "log.txt");

  EXPECT_EQ(write(folder.string(), ""), "it is a folder");
  EXPECT_EQ(write(folder.string() + "/", ""), "it names a folder");
  EXPECT_EQ(write((folder / "missing" / "r.txt").string(), ""), "No such file or directory");
  // Only the report and the link: no new file was left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2);
}


struct Outcome {
  std::string status;  // "exit N"
  std::string errors;  // standard error
};

// Runs calorim-run with `args`; `signalAfter` seconds in, it is sent SIGINT.
Outcome run(std::vector<std::string> args, const ChildOptions& options = {},
            std::optional<double> signalAfter = std::nullopt) {
  // A signal calorim-run was started ignoring stays ignored; these tests pass
  // signals on, so the program starts with SIGINT at its default action even
  // where the test runs as a background job.
  struct sigaction defaultAction {}, saved {};
  defaultAction.sa_handler = SIG_DFL;
  ::sigaction(SIGINT, &defaultAction, &saved);
  args.insert(args.begin(), RUN_BINARY);
  ChildProcess child(args, options);
  ::sigaction(SIGINT, &saved, nullptr);
  if (child.failure()) return {"not started: " + *child.failure(), ""};
  child.closeInput();
  if (signalAfter) {
    std::this_thread::sleep_for(std::chrono::duration<double>(*signalAfter));
    child.signal(SIGINT);
  }
  const std::string errors = child.errorOutput();
  return {child.wait(60).status, errors};
}

// Without hardware of its own: what the command did decides the status, and
// the report comes on standard error or in the file.
TEST(RunProcess, StatusesSignalsAndTheReportFile) {
  const testing::MachineTree folder;  // an empty temporary folder
  const std::string notRunnable = (folder.root() / "not-runnable").string();
  std::ofstream(notRunnable) << "#!/bin/sh\nexit 0\n";
  ::chmod(notRunnable.c_str(), 0644);
  const std::string reportPath = (folder.root() / "report.json").string();

  const struct {
    const char* what;
    std::vector<std::string> args;
    std::optional<double> signalAfter;
    std::string status;
    std::string errorsHave;  // a part of standard error; all of it where `wholeErrors`
    bool wholeErrors = false;
  } kCases[] = {
      {"its own status", {"--simulate", "--", "sh", "-c", "exit 3"}, {}, "exit 3", "exit status   3\n"},
      {"ended by a signal", {"--simulate", "--", "sh", "-c", "kill -TERM $$"}, {}, "exit 143",
       "exit status   143 (signal 15)\n"},
      {"SIGINT passed on", {"--simulate", "--", "sleep", "30"}, 1.0, "exit 130", "exit status   130 (signal 2)\n"},
      {"not found", {"calorim-no-such-command", "x"}, {}, "exit 127",
       "calorim-run: calorim-no-such-command: command not found\n", true},
      {"not runnable", {notRunnable}, {}, "exit 126",
       "calorim-run: " + notRunnable + ": cannot run it: Permission denied\n", true},
      {"report to a file", {"--simulate", "--json", "--output", reportPath, "--", "sh", "-c", "exit 4"}, {},
       "exit 4", "", true},
      {"a report file that cannot be made", {"--output", "/nonexistent/folder/r.txt", "true"}, {}, "exit 125",
       "calorim-run: cannot write the report to /nonexistent/folder/r.txt: No such file or directory\n", true},
      {"a usage mistake", {"--interval", "0", "true"}, {}, "exit 2",
       "calorim-run: bad --interval '0': expected seconds from 0.1 to 60 (see calorim-run --help)\n", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome = run(c.args, {}, c.signalAfter);
    EXPECT_EQ(outcome.status, c.status);
    if (c.wholeErrors) {
      EXPECT_EQ(outcome.errors, c.errorsHave);
    } else {
      EXPECT_NE(outcome.errors.find(c.errorsHave), std::string::npos) << outcome.errors;
      EXPECT_NE(outcome.errors.find("SIMULATED"), std::string::npos) << outcome.errors;
    }
  }

  // The file holds the whole report and nothing is left beside it.
  const std::optional<Json> report = readJson(contents(reportPath));
  ASSERT_TRUE(report) << reportPath;
  EXPECT_EQ(report->at("command"), Json::array({"sh", "-c", "exit 4"}));
  EXPECT_EQ(report->at("exitStatus"), 4);
  EXPECT_EQ(report->at("simulated"), true);
  EXPECT_GT(report->at("totalEnergyJ").get<double>(), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.root()), {}), 2);  // the report and the script
}

// RAPL zones of a fixture tree whose energy counters run on in real time at
// fixed powers, wrapping past their `max_energy_range_uj` as the kernel's do.
// Each value is written in place at a fixed width (white space after the
// number, which readers allow), so that a reader never finds a file emptied
// half-way through an update.
class RunningRapl {
 public:
  // Each zone: its folder under sys/class/powercap and its watts.
  RunningRapl(const fs::path& root, const std::vector<std::pair<std::string, double>>& zones) {
    for (const auto& [name, watts] : zones) {
      const fs::path folder = root / "sys/class/powercap" / name;
      const auto number = [&](const char* file) {
        std::uint64_t value = 0;
        std::ifstream(folder / file) >> value;
        return value;
      };
      counters_.push_back({::open((folder / "energy_uj").c_str(), O_WRONLY | O_CLOEXEC), number("energy_uj"),
                           number("max_energy_range_uj"), watts});
    }
    thread_ = std::thread([this] {
      const auto start = std::chrono::steady_clock::now();
      while (!stop_) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (const Counter& c : counters_) {
          const auto gained = static_cast<std::uint64_t>(std::llround(c.watts * 1e6 * seconds));
          std::string text = std::to_string((c.start + gained) % c.range);
          text.resize(20, ' ');
          (void)!::pwrite(c.fd, (text + "\n").data(), text.size() + 1, 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  ~RunningRapl() {
    stop_ = true;
    thread_.join();
    for (const Counter& c : counters_) ::close(c.fd);
  }

 private:
  struct Counter {
    int fd;
    std::uint64_t start;
    std::uint64_t range;
    double watts;
  };
  std::vector<Counter> counters_;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

// On the Linux laptop with its RAPL counters running at known powers, the
// joules of a 2 s command are power × time; on a virtual machine without
// counters the command runs all the same, and the report says why there is
// no energy.
TEST(RunProcess, EnergyOfACommandOnLinuxMachines) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a fixture machine over /sys and /proc needs root";
  testing::MachineTree laptop("laptop");
  laptop.copyProc("laptop");
  // The cores' counter wraps every 3 J, several times in this run: only
  // readings close enough together catch each wrap.
  laptop.write("sys/class/powercap/intel-rapl:0:0/max_energy_range_uj", "3000000");
  laptop.write("sys/class/powercap/intel-rapl:0:0/energy_uj", "2500000");
  constexpr double kCoreWatts = 7, kUncoreWatts = 1, kDramWatts = 2, kPackageWatts = 12;

  std::optional<Json> report;
  {
    RunningRapl running(laptop.root(), {{"intel-rapl:0", kPackageWatts},
                                        {"intel-rapl-mmio:0", kPackageWatts},
                                        {"intel-rapl:0:0", kCoreWatts},
                                        {"intel-rapl:0:1", kUncoreWatts},
                                        {"intel-rapl:0:2", kDramWatts},
                                        {"intel-rapl:1", 20}});
    const std::string path = (laptop.root() / "r.json").string();
    const Outcome outcome = run({"--json", "--output", path, "--interval", "0.25", "sleep", "2"},
                                {.fixtureRoot = laptop.root()});
    if (outcome.status.starts_with("not started")) GTEST_SKIP() << "no private mount namespace here: " << outcome.status;
    EXPECT_EQ(outcome.status, "exit 0");
    EXPECT_EQ(outcome.errors, "");
    report = readJson(contents(path));
  }
  ASSERT_TRUE(report);
  SCOPED_TRACE(report->dump());
  const double elapsed = report->at("elapsedS").get<double>();
  EXPECT_GE(elapsed, 2.0);
  EXPECT_LT(elapsed, 3.0);
  EXPECT_EQ(report->at("simulated"), false);
  EXPECT_EQ(report->at("energyMeasured"), true);
  const Json& energy = report->at("energyJ");
  EXPECT_FALSE(energy.contains("ane"));  // a PC has no neural engine: left out, not 0
  EXPECT_NEAR(energy.at("cpu").get<double>(), kCoreWatts * elapsed, 0.05 * kCoreWatts * elapsed);
  EXPECT_NEAR(energy.at("gpu").get<double>(), kUncoreWatts * elapsed, 0.05 * kUncoreWatts * elapsed);
  EXPECT_NEAR(energy.at("dram").get<double>(), kDramWatts * elapsed, 0.05 * kDramWatts * elapsed);
  const double whole = kPackageWatts + kDramWatts;
  EXPECT_NEAR(report->at("totalEnergyJ").get<double>(), whole * elapsed, 0.05 * whole * elapsed);
  EXPECT_NEAR(report->at("meanPowerW").get<double>(), whole, 0.05 * whole);
  EXPECT_NEAR(report->at("peakPowerW").get<double>(), whole, 0.1 * whole);

  testing::MachineTree vm("vm");
  vm.copyProc("vm");
  const Outcome outcome = run({"sh", "-c", "exit 5"}, {.fixtureRoot = vm.root()});
  EXPECT_EQ(outcome.status, "exit 5");
  EXPECT_NE(outcome.errors.find("  energy        not measured. No power figures: this machine has no energy counters"),
            std::string::npos)
      << outcome.errors;
  EXPECT_EQ(outcome.errors.find(" J"), std::string::npos) << outcome.errors;
}

}  // namespace
}  // namespace calorim::run
