#pragma once
// The command calorim-run measures: started without a shell, with calorim-run's
// own standard input, output and error, environment and signal dispositions;
// waited for with its CPU time; signals sent to calorim-run passed on to it.
// POSIX: posix_spawnp, waitid and wait4.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace calorim::run {

// Why the command could not be started: one line for people, and the status
// calorim-run exits with, as shells use them (127 not found, 126 found but not
// runnable).
// The status calorim-run exits with when it fails itself, before or after the
// command ran, as env and timeout do.
inline constexpr int kOwnFailureStatus = 125;

struct StartFailure {
  int exitStatus = 127;
  std::string message;
};

struct CommandEnd {
  // What calorim-run exits with: the command's own status, or 128 + N when
  // signal N ended it.
  int exitStatus = 0;
  std::optional<int> signal;  // the signal that ended it
  // User and system time of the command and of the descendants it waited
  // for (orphans that others reaped are not in it), in seconds.
  double cpuSeconds = 0;
  // When it ended, as the steady clock saw the wait return.
  std::chrono::steady_clock::time_point endedAt;
};

// From now on SIGINT, SIGTERM and SIGHUP that a process sends to calorim-run
// are passed on to the command once it runs (one that comes before it starts
// is passed on as it starts); signals the terminal sends to its foreground
// group reach the command directly and are not sent a second time. A signal
// calorim-run was started ignoring stays ignored, by it and by the command.
// SIGCHLD gets its default action, so that the command's status is ours to read.
// Call once, before any thread is started.
void forwardSignals();

class Command {
 public:
  // Starts `argv` (argv[0] searched for in PATH when it holds no slash).
  [[nodiscard]] static std::variant<Command, StartFailure> start(const std::vector<std::string>& argv);

  Command(Command&& other) noexcept;
  Command& operator=(Command&&) = delete;
  Command(const Command&) = delete;
  // A command still running is left to run; calorim-run only ends after waiting for it.
  ~Command() = default;

  // Blocks until the command has ended and reaps it. Once.
  [[nodiscard]] CommandEnd wait();

 private:
  explicit Command(pid_t pid) : pid_(pid) {}
  pid_t pid_;
};

// The status to exit with for a raw wait status: the command's exit status,
// or 128 + N for signal N. Pure.
[[nodiscard]] int exitStatusOf(int waitStatus);

}  // namespace calorim::run
