#pragma once
// Runs a program directly (no shell) and collects what it writes to standard
// output. POSIX: posix_spawn, a pipe, poll and waitpid.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/stop_signal.h"

namespace calorim {

struct ProcessLimits {
  // How long the program may run, from its start until it has exited.
  std::chrono::milliseconds timeout{10'000};
  // The most bytes of standard output kept; a program writing more fails.
  std::size_t maxOutputBytes = 16U << 20;
  // Once requested, the program is given up as if it had run out of time,
  // within kStopLatency.
  StopToken stop;
};

// How soon a running program is given up after a stop request.
inline constexpr std::chrono::milliseconds kStopLatency{50};

// Starts `program` (a path, not searched for) with `arguments` after it, its
// standard input and standard error on /dev/null, its standard output on a
// pipe read to the end, in a process group of its own, with the default
// disposition of SIGPIPE and no signals blocked. Waits until it has exited.
// The output bytes as written (the exit status is not examined); absent when
// the program cannot be started, writes more than `limits.maxOutputBytes`, or
// has not exited within `limits.timeout`, or `limits.stop` is requested: then
// its whole process group is killed and reaped before this returns. Blocks; thread-safe; never throws,
// except std::bad_alloc.
[[nodiscard]] std::optional<std::string> runProcess(const std::string& program,
                                                    const std::vector<std::string>& arguments,
                                                    const ProcessLimits& limits = {});

}  // namespace calorim
