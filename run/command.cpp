#include "run/command.h"

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace calorim::run {
namespace {

constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the signal handler: lock-free atomics only.
std::atomic<pid_t> runningChild{0};
std::atomic<int> pendingSignal{0};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// A signal a process sent with kill() or sigqueue(). The terminal's (and the
// kernel's) carry other codes: they already went to the whole foreground
// process group, the command included.
bool sentByProcess(const siginfo_t* info) {
  return info == nullptr || info->si_code == SI_USER || info->si_code == SI_QUEUE;
}

void forward(int signal, siginfo_t* info, void*) {
  if (!sentByProcess(info)) return;
  const int savedErrno = errno;
  const pid_t child = runningChild.load();
  if (child > 0) {
    ::kill(child, signal);
  } else {
    pendingSignal.store(signal);
  }
  errno = savedErrno;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

void forwardSignals() {
  // With SIGCHLD ignored the system would reap the command itself, its
  // status lost; the command starts with the default action too.
  ::signal(SIGCHLD, SIG_DFL);
  for (const int signal : kForwarded) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_sigaction = forward;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

std::variant<Command, StartFailure> Command::start(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& word : argv) args.push_back(const_cast<char*>(word.c_str()));
  args.push_back(nullptr);

  // Caught signals fall back to their default action at exec by themselves;
  // the mask is the one calorim-run was started with.
  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (error != 0) {
    const std::string name = argv.front();
    if (error == ENOENT || error == ENOTDIR) return StartFailure{127, name + ": command not found"};
    return StartFailure{126, name + ": cannot run it: " + std::strerror(error)};
  }
  runningChild.store(pid);
  if (const int signal = pendingSignal.exchange(0); signal != 0) ::kill(pid, signal);
  return Command(pid);
}

Command::Command(Command&& other) noexcept : pid_(other.pid_) { other.pid_ = 0; }

CommandEnd Command::wait() {
  CommandEnd end;
  // Wait without reaping first: while the process is a zombie its id cannot
  // be reused, so a signal forwarded until now cannot reach a stranger.
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }
  end.endedAt = std::chrono::steady_clock::now();
  runningChild.store(0);
  int status = 0;
  rusage usage{};
  pid_t reaped = -1;
  while ((reaped = ::wait4(pid_, &status, 0, &usage)) < 0 && errno == EINTR) {
  }
  pid_ = 0;
  // Only a SIGCHLD set to be ignored makes the system reap the command
  // unasked; forwardSignals() rules that out. Its status is then unknown.
  end.exitStatus = reaped > 0 ? exitStatusOf(status) : kOwnFailureStatus;
  if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
  end.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return end;
}

int exitStatusOf(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return WEXITSTATUS(waitStatus);
}

}  // namespace calorim::run
