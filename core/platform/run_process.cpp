#include "core/platform/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

extern char** environ;

namespace calorim {
namespace {

using Clock = std::chrono::steady_clock;

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  [[nodiscard]] int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Both ends of a pipe, close-on-exec so that no other child inherits them.
bool makePipe(Fd& readEnd, Fd& writeEnd) {
  int ends[2];
#if defined(__APPLE__)
  if (::pipe(ends) != 0) return false;
  for (int fd : ends) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#else
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
#endif
  readEnd.reset(ends[0]);
  writeEnd.reset(ends[1]);
  return true;
}

// Spawn attributes and file actions, destroyed with the object.
class SpawnSetup {
 public:
  SpawnSetup(int outputFd, int unusedFd) {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
    ok_ = ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
          ::posix_spawn_file_actions_adddup2(&actions_, outputFd, STDOUT_FILENO) == 0 &&
          ::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
          ::posix_spawn_file_actions_addclose(&actions_, unusedFd) == 0;
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__APPLE__)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
    ok_ = ok_ && ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
          ::posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
          ::posix_spawnattr_setpgroup(&attributes_, 0) == 0 && ::posix_spawnattr_setflags(&attributes_, flags) == 0;
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    ::posix_spawnattr_destroy(&attributes_);
    ::posix_spawn_file_actions_destroy(&actions_);
  }

  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] const posix_spawn_file_actions_t* actions() const { return &actions_; }
  [[nodiscard]] const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
  bool ok_ = false;
};

// How long one wait may last: until the deadline, and no longer than the
// stop latency, so that a stop request is seen in time.
int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, kStopLatency.count()));
}

// Kills the child's process group (and the child, should it have left the
// group) and reaps the child.
void killAndReap(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// Whether the child has exited by `deadline` and before a stop request;
// reaps it when it has.
bool reapedBy(pid_t pid, Clock::time_point deadline, const StopToken& stop) {
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return true;
    if (Clock::now() >= deadline || stop.stopRequested()) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(20));
  }
}

}  // namespace

std::optional<std::string> runProcess(const std::string& program, const std::vector<std::string>& arguments,
                                      const ProcessLimits& limits) {
  if (limits.stop.stopRequested()) return std::nullopt;
  Fd readEnd;
  Fd writeEnd;
  if (!makePipe(readEnd, writeEnd)) return std::nullopt;

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const Clock::time_point deadline = Clock::now() + limits.timeout;
  pid_t pid = 0;
  {
    const SpawnSetup setup(writeEnd.get(), readEnd.get());
    if (!setup.ok()) return std::nullopt;
    if (::posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(), argv.data(), environ) != 0) {
      return std::nullopt;
    }
  }
  writeEnd.reset();

  std::string output;
  char buffer[16384];
  for (;;) {
    pollfd ready{readEnd.get(), POLLIN, 0};
    const int polled = ::poll(&ready, 1, millisecondsUntil(deadline));
    if (limits.stop.stopRequested()) {
      killAndReap(pid);
      return std::nullopt;
    }
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0 && Clock::now() < deadline) continue;
    if (polled <= 0) {
      killAndReap(pid);
      return std::nullopt;
    }
    const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (static_cast<std::size_t>(got) > limits.maxOutputBytes - output.size()) {
      killAndReap(pid);
      return std::nullopt;
    }
    output.append(buffer, static_cast<std::size_t>(got));
  }
  if (!reapedBy(pid, deadline, limits.stop)) {
    killAndReap(pid);
    return std::nullopt;
  }
  return output;
}

}  // namespace calorim
