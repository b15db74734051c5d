#include "run/run_main.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <variant>

#include "core/energy_notice.h"
#include "core/platform/native/native_platform.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_metrics.h"
#include "core/system_info.h"
#include "run/command.h"
#include "run/options.h"
#include "run/report.h"
#include "run/report_file.h"

namespace calorim::run {
namespace {

constexpr const char* kWindow = "calorim-run";

void say(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

int fail(const std::string& message) {
  say(std::string(kProgram) + ": " + message + "\n");
  return kOwnFailureStatus;
}

// The energy side of a run: the core's facade with one window split every
// interval, or why there is none.
class EnergyReadings {
 public:
  EnergyReadings(std::shared_ptr<Platform> platform, double interval) : tally_(interval) {
    try {
      // The sensors are not read: their probing may go on in the background.
      metrics_ = std::make_unique<PowerMetrics>(platform, StartUpWork::inBackground, EnergyCounters::optional);
      if (!metrics_->hasEnergy()) {
        notice_ = energyNotice(platform->counters->energyAccess())
                      .value_or("No power figures: this machine has no energy counters.");
      }
    } catch (const PMError& e) {
      notice_ = energyNotice(platform->counters->energyAccess())
                    .value_or("No power figures: the energy counters could not be read (" +
                              std::string(e.what()) + ").");
    }
    // A first reading that fails stores no window: every later reading then
    // fails too, and `finish` says so.
    if (!notice_) (void)metrics_->beginWindow(kWindow);
  }

  // Adds the stretch since the last reading. One that fails is covered by
  // the next.
  void split() {
    if (notice_) return;
    const std::optional<EnergyMetrics> stretch = metrics_->splitWindow(kWindow);
    if (stretch) add(*stretch);
  }

  // The last stretch, then the figures into `report`.
  void finish(RunReport& report) {
    if (!notice_) {
      const std::optional<EnergyMetrics> last = metrics_->endWindow(kWindow);
      if (last) add(*last);
    }
    if (!notice_ && !measuredAny_) notice_ = "No power figures: the energy counters could not be read.";
    if (!notice_) {
      const MeasuredFigures measured = metrics_->description().measured;
      const EnergyMetrics sum = tally_.sum();
      report.domains = measuredDomains(measured, sum);
      if (measured.totalPower) {
        report.totalJoules = sum.totalEnergy();
        report.meanWatts = sum.totalPowerAvg();
        report.peakWatts = tally_.peakWatts();
      }
      if (report.domains.empty() && !report.totalJoules) {
        notice_ = "No power figures: the energy counters show no domain this program knows.";
      }
    }
    report.energyNotice = notice_;
  }

 private:
  void add(const EnergyMetrics& stretch) {
    tally_.add(stretch);
    measuredAny_ = true;
  }

  std::unique_ptr<PowerMetrics> metrics_;
  std::optional<std::string> notice_;
  EnergyTally tally_;
  bool measuredAny_ = false;
};

// Waits for the command on a thread of its own, so that the counters can be
// read every interval meanwhile.
class Waiter {
 public:
  explicit Waiter(Command& command)
      : thread_([this, &command] {
          CommandEnd end = command.wait();
          std::lock_guard lock(mutex_);
          end_ = end;
          ended_.notify_all();
        }) {}
  ~Waiter() { thread_.join(); }
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  // The command's end, when it comes within `seconds`.
  std::optional<CommandEnd> waitFor(double seconds) {
    std::unique_lock lock(mutex_);
    ended_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return end_.has_value(); });
    return end_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  std::optional<CommandEnd> end_;
  std::thread thread_;  // last: started when everything above is in place
};

}  // namespace

int runMain(int argc, char** argv) {
  const auto parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto* error = std::get_if<UsageError>(&parsed)) return cli::printUsageError(kProgram, *error);
  if (const auto* info = std::get_if<InfoRequest>(&parsed)) {
    return cli::printInfo(*info, kProgram, usageText(), CALORIM_VERSION);
  }
  const Options& options = std::get<Options>(parsed);
  // Before any thread starts: they inherit the signal dispositions.
  forwardSignals();

  std::optional<ReportFile> file;
  if (options.outputPath) {
    auto created = ReportFile::create(*options.outputPath);
    if (const auto* reason = std::get_if<std::string>(&created)) {
      return fail("cannot write the report to " + *options.outputPath + ": " + *reason);
    }
    file.emplace(std::move(std::get<ReportFile>(created)));
  }

  std::shared_ptr<Platform> platform;
  RunReport report;
  report.command = options.command;
  if (options.simulate) {
    auto opened = fake::openSimulatedPlatform(options.profilePath);
    if (const auto* failure = std::get_if<fake::ProfileFailure>(&opened)) {
      return fail(fake::profileFailureText(*failure, options.profilePath));
    }
    platform = std::get<std::shared_ptr<Platform>>(opened);
    report.simulatedMachine = systemInfo(*platform).chipName();
  } else {
    platform = makeNativePlatform();
  }

  EnergyReadings energy(platform, options.interval);
  const std::optional<std::vector<CpuTicks>> ticksBefore = platform->host->processorTicks();
  const auto started = std::chrono::steady_clock::now();
  auto command = Command::start(options.command);
  if (const auto* failure = std::get_if<StartFailure>(&command)) {
    say(std::string(kProgram) + ": " + failure->message + "\n");
    return failure->exitStatus;
  }
  std::optional<CommandEnd> ended;
  {
    Waiter waiter(std::get<Command>(command));
    while (!(ended = waiter.waitFor(options.interval))) energy.split();
  }
  const CommandEnd& end = *ended;
  const std::optional<std::vector<CpuTicks>> ticksAfter = platform->host->processorTicks();

  report.elapsedSeconds = std::chrono::duration<double>(end.endedAt - started).count();
  report.exitStatus = end.exitStatus;
  report.signal = end.signal;
  report.commandCpuSeconds = end.cpuSeconds;
  report.cpuShare = cpuTimeShare(end.cpuSeconds, report.elapsedSeconds, ticksBefore, ticksAfter);
  energy.finish(report);

  std::string text;
  try {
    text = options.json ? reportJson(report) : reportText(report);
  } catch (const std::domain_error& e) {
    // A figure that is not a number cannot be JSON; people can still read it.
    say(std::string(kProgram) + ": " + e.what() + "\n");
    text = reportText(report);
  }
  if (file) {
    if (const std::optional<std::string> reason = file->commit(text)) {
      say(std::string(kProgram) + ": cannot write the report to " + *options.outputPath + ": " + *reason +
          "; here it is\n" + text);
    }
  } else {
    say(text);
  }
  return end.exitStatus;
}

}  // namespace calorim::run
