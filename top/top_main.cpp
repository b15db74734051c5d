#include "top/top_main.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <clocale>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "core/diagnosis.h"
#include "core/energy_notice.h"
#include "core/json.h"
#include "core/platform/native/native_platform.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_metrics.h"
#include "core/system_info.h"
#include "top/options.h"
#include "top/screen.h"
#include "top/terminal.h"

namespace calorim::top {
namespace {

int fail(const std::string& message) {
  std::cerr << kProgram << ": " << message << "\n";
  return 1;
}

// Takes one sample after another: a snapshot over the interval, the processes'
// shares of its CPU power, the battery and adapter. A sample that overran its
// interval (the machine slept) is no reading and is skipped.
class Reader {
 public:
  explicit Reader(PowerMetrics& metrics)
      : metrics_(metrics), processes_(metrics.platform().processes.get(), *metrics.platform().clock),
        supply_(*metrics.platform().registry) {
    processes_.restart();
  }

  // The next reading; absent when `stop` was requested. Blocks for the interval.
  std::optional<Reading> next(double interval, const StopToken& stop) {
    while (!stop.stopRequested()) {
      try {
        PowerSnapshot snapshot = metrics_.sample(interval, stop);
        auto processes = processes_.next(metrics_.hasEnergy() ? snapshot.cpuPower() : 0).processes;
        if (PowerMetrics::overran(snapshot, interval)) continue;
        return Reading{std::move(snapshot), std::move(processes), supply_.read(), metrics_.gpuFigures()};
      } catch (const PMError&) {
        // Failed, or cut short: the next sample's processes start from its own beginning.
        processes_.restart();
        if (!stop.sleepFor(PowerMetrics::kStreamRetryPause)) break;
      }
    }
    return std::nullopt;
  }

 private:
  PowerMetrics& metrics_;
  ProcessMeter processes_;
  PowerSupplyReader supply_;
};

// --- JSON lines -------------------------------------------------------------

// Writes all of `text` to standard output. False once the reader has gone
// (or output fails otherwise).
bool writeAll(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

int jsonLines(PowerMetrics& metrics, const Options& options) {
  // SIGINT, SIGTERM and SIGHUP end the stream between two lines: a thread of
  // its own waits for them (every thread started later inherits the mask).
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  StopSource stop;
  std::thread([stop, signals]() mutable {
    int received = 0;
    sigwait(&signals, &received);
    stop.requestStop();
  }).detach();

  Reader reader(metrics);
  for (std::int64_t n = 0; !options.count || n < *options.count;) {
    const std::optional<Reading> reading = reader.next(options.interval, stop.token());
    if (!reading) return 0;
    std::string line;
    try {
      Json record = reading->snapshot;
      // Which of the record's figures are measured, so that a 0 of one that
      // is not reads as "not measured"; and whether the machine is simulated.
      record["simulated"] = options.simulate;
      record["measured"] = metrics.description().measured.names();
      record["processes"] = reading->processes ? topProcessesJson(*reading->processes) : Json(nullptr);
      line = record.dump() + "\n";
    } catch (const std::domain_error& e) {
      std::cerr << kProgram << ": a sample was left out: " << e.what() << "\n";
      continue;
    }
    // A reader that has gone (`| head -1`) ends the stream as asked for.
    if (!writeAll(line)) return errno == EPIPE ? 0 : fail(std::string("cannot write: ") + std::strerror(errno));
    ++n;
  }
  return 0;
}

// --- The screen ---------------------------------------------------------------

// Written by the signal handlers and the sampling thread to wake the screen's loop.
int wakeFd = -1;
volatile sig_atomic_t quitSignal = 0;

void onQuitSignal(int) {
  quitSignal = 1;
  const char byte = 'q';
  [[maybe_unused]] const ssize_t ignored = ::write(wakeFd, &byte, 1);
}

// Samples on a thread of its own and keeps the latest reading for the screen.
class SamplingThread {
 public:
  SamplingThread(PowerMetrics& metrics, double interval) : reader_(metrics), interval_(interval) {
    // The screen's thread alone takes the signals, so that they wake its wait.
    sigset_t blocked, previous;
    sigfillset(&blocked);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    thread_ = std::thread([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  ~SamplingThread() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
      sample_.requestStop();
    }
    thread_.join();
  }
  SamplingThread(const SamplingThread&) = delete;
  SamplingThread& operator=(const SamplingThread&) = delete;

  // Samples over `interval` from now on; the sample under way is dropped.
  void restart(double interval) {
    interval_ = interval;
    std::lock_guard lock(mutex_);
    sample_.requestStop();
  }

  // The reading finished since the last call; absent when there is none.
  std::optional<Reading> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(latest_, std::nullopt);
  }

 private:
  void run() {
    for (;;) {
      StopToken stop;
      {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        sample_ = StopSource();
        stop = sample_.token();
      }
      std::optional<Reading> reading = reader_.next(interval_, stop);
      if (!reading) continue;
      {
        std::lock_guard lock(mutex_);
        latest_ = std::move(reading);
      }
      const char byte = 's';
      [[maybe_unused]] const ssize_t ignored = ::write(wakeFd, &byte, 1);
    }
  }

  Reader reader_;
  std::atomic<double> interval_;
  std::mutex mutex_;  // guards the members below
  bool finished_ = false;
  StopSource sample_;  // stops the sample under way
  std::optional<Reading> latest_;
  std::thread thread_;  // last: started when everything above is in place
};

MachineHeader headerOf(Platform& platform, bool simulated) {
  const SystemInfo info = systemInfo(platform);
  return {info.machineName(), info.chipName(), info.osVersion(), simulated};
}

int screen(PowerMetrics& metrics, const Options& options, const std::optional<std::string>& notice) {
  int wake[2];
  if (::pipe(wake) != 0) return fail(std::string("cannot make a pipe: ") + std::strerror(errno));
  for (int end : wake) {
    ::fcntl(end, F_SETFD, FD_CLOEXEC);
    ::fcntl(end, F_SETFL, O_NONBLOCK);  // a full pipe already wakes the loop
  }
  wakeFd = wake[1];
  struct sigaction quit = {};
  quit.sa_handler = onQuitSignal;
  sigemptyset(&quit.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &quit, nullptr);

  const MachineHeader header = headerOf(metrics.platform(), options.simulate);
  std::string error;
  std::optional<Terminal> terminal = Terminal::open(error);
  if (!terminal) return fail(error);

  ViewState view;
  view.interval = options.interval;
  PowerHistory history;
  std::optional<Reading> latest;
  MachineDescription description = metrics.description();
  SamplingThread sampling(metrics, view.interval);
  const bool keyboard = ::isatty(STDIN_FILENO) != 0;
  std::int64_t samples = 0;
  bool dirty = true;
  while (quitSignal == 0) {
    if (dirty) {
      const ScreenInput input{header, description, metrics.hasEnergy(), notice, latest ? &*latest : nullptr, history, view};
      terminal->draw(layoutScreen(input, terminal->width(), terminal->height()));
      dirty = false;
    }
    if (options.count && samples >= *options.count) break;
    // Keys come from a terminal; input that is none (a file at its end) would wake the wait for ever.
    pollfd waits[2] = {{keyboard ? STDIN_FILENO : -1, POLLIN, 0}, {wake[0], POLLIN, 0}};
    // A signal (a change of size among them) ends the wait early.
    if (::poll(waits, 2, -1) < 0 && errno != EINTR) break;
    char drained[64];
    while (::read(wake[0], drained, sizeof drained) > 0) {
    }
    if (waits[0].revents & (POLLHUP | POLLERR | POLLNVAL)) break;  // the terminal has gone
    bool quitKey = false;
    while (const std::optional<int> key = terminal->key()) {
      if (*key == Terminal::kResized) {
        dirty = true;
        continue;
      }
      switch (applyKey(view, *key)) {
        case KeyEffect::quit: quitKey = true; break;
        case KeyEffect::newInterval: sampling.restart(view.interval); dirty = true; break;
        case KeyEffect::redraw: dirty = true; break;
        case KeyEffect::none: break;
      }
    }
    if (quitKey) break;
    if (std::optional<Reading> reading = sampling.take()) {
      ++samples;
      // A paused view keeps what it shows; sampling goes on beneath it.
      if (!view.paused) {
        description = metrics.description();
        history.add(powerRows(description, metrics.hasEnergy(), *reading));
        latest = std::move(reading);
        dirty = true;
      }
    }
  }
  return 0;
}

}  // namespace

int topMain(int argc, char** argv) {
  const auto parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto* error = std::get_if<cli::UsageError>(&parsed)) return cli::printUsageError(kProgram, *error);
  if (const auto* info = std::get_if<cli::InfoRequest>(&parsed)) {
    return cli::printInfo(*info, kProgram, usageText(), CALORIM_VERSION);
  }
  const Options& options = std::get<Options>(parsed);
  if (!options.json && !options.diagnose && ::isatty(STDOUT_FILENO) == 0) {
    return cli::printUsageError(kProgram, {"standard output is not a terminal: --json writes the samples as lines"});
  }
  std::setlocale(LC_ALL, "");
  ::signal(SIGPIPE, SIG_IGN);

  std::shared_ptr<Platform> platform;
  if (options.simulate) {
    // Paced, so that the same keys give the same figures on every run.
    auto opened = fake::openSimulatedPlatform(options.profilePath, fake::SimulatedClock::paced);
    if (const auto* failure = std::get_if<fake::ProfileFailure>(&opened)) {
      return fail(fake::profileFailureText(*failure, options.profilePath));
    }
    platform = std::get<std::shared_ptr<Platform>>(opened);
  } else {
    platform = makeNativePlatform();
  }
  if (options.diagnose) {
    std::cout << diagnosis::report(*platform, options.simulate).dump(2) << std::endl;
    return std::cout ? 0 : fail("the report could not be written");
  }
  const std::optional<std::string> notice = energyNotice(platform->counters->energyAccess());
  std::unique_ptr<PowerMetrics> metrics;
  try {
    metrics = std::make_unique<PowerMetrics>(platform, StartUpWork::inCreation, EnergyCounters::optional);
  } catch (const PMError& e) {
    return fail(std::string("cannot measure this machine: ") + e.what());
  }
  if (options.json) return jsonLines(*metrics, options);
  return screen(*metrics, options, notice);
}

}  // namespace calorim::top
