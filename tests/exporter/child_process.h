#pragma once
// A program started by a test: its standard output and error come back through
// pipes (or go to a log file), it can be signalled, and every wait is bounded.
// Optionally it runs in a private mount namespace where a fixture machine lies
// over /sys and over the /proc files the Linux backend reads (needs root and a
// kernel that allows new mount namespaces; `failure()` says when it could not).
// A process still running when the object goes is killed.

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace calorim::testing {

struct FixtureMounts {
  std::filesystem::path sys;   // mounted over /sys
  std::filesystem::path proc;  // its stat, cpuinfo, meminfo and sys/kernel/osrelease over /proc's
};

class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;

  ChildProcess(const std::string& program, std::vector<std::string> args,
               const std::optional<FixtureMounts>& mounts = std::nullopt, const std::string& logFile = "") {
    std::vector<std::pair<std::string, std::string>> binds;
    if (mounts) {
      binds.emplace_back(mounts->sys.string(), "/sys");
      for (const char* file : {"stat", "cpuinfo", "meminfo", "sys/kernel/osrelease"}) {
        if (std::filesystem::exists(mounts->proc / file)) {
          binds.emplace_back((mounts->proc / file).string(), std::string("/proc/") + file);
        }
      }
    }
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2], err[2], status[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(status, O_CLOEXEC) != 0) {
      failure_ = std::string("pipe: ") + std::strerror(errno);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      // The child: system calls only, until exec. It reports the failed step and errno.
      const auto fail = [&](const char* step) {
        const std::string text = std::string(step) + " failed: " + std::strerror(errno);
        (void)!::write(status[1], text.data(), text.size());
        ::_exit(127);
      };
      if (mounts) {
        if (::unshare(CLONE_NEWNS) != 0) fail("unshare(CLONE_NEWNS)");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("making the mounts private");
        for (const auto& [source, target] : binds) {
          if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) fail("mount");
        }
      }
      const int log = logFile.empty() ? -1 : ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (::dup2(log >= 0 ? log : out[1], 1) < 0 || ::dup2(log >= 0 ? log : err[1], 2) < 0) fail("dup2");
      ::execv(argv[0], argv.data());
      fail("exec");
    }
    ::close(out[1]);
    ::close(err[1]);
    ::close(status[1]);
    out_ = out[0];
    err_ = err[0];
    // Exec closes the status pipe: end of file means the program runs.
    char text[256];
    const ssize_t n = pid_ > 0 ? ::read(status[0], text, sizeof text) : 0;
    ::close(status[0]);
    if (pid_ < 0) failure_ = std::string("fork: ") + std::strerror(errno);
    if (n > 0) {
      failure_ = std::string(text, static_cast<std::size_t>(n));
      wait(5);
    }
  }

  ~ChildProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  [[nodiscard]] const std::optional<std::string>& failure() const { return failure_; }

  // The port of the exporter's first line, "…: serving http://HOST:PORT/metrics";
  // absent when no such line comes within `seconds`.
  std::optional<int> servingPort(double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    std::string line;
    while (line.find('\n') == std::string::npos) {
      if (!readSome(out_, line, deadline)) return std::nullopt;
    }
    const std::size_t end = line.find("/metrics\n");
    const std::size_t colon = line.rfind(':', end);
    if (end == std::string::npos || colon == std::string::npos) return std::nullopt;
    return std::atoi(line.c_str() + colon + 1);
  }

  void signal(int number) const { ::kill(pid_, number); }

  // The exit status; -1 when it ended through a signal, or did not end within
  // `seconds` (it is then killed).
  int wait(double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    int status = 0;
    while (!exitStatus_) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      } else if (Clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        exitStatus_ = -1;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    return *exitStatus_;
  }

  // All of standard error, once the process has ended.
  std::string errors() {
    std::string text;
    while (readSome(err_, text, Clock::now() + std::chrono::seconds(5))) {
    }
    return text;
  }

 private:
  // Appends what `fd` has; false at its end, on an error or at `deadline`.
  static bool readSome(int fd, std::string& into, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (fd < 0 || left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::optional<int> exitStatus_;
  std::optional<std::string> failure_;
};

}  // namespace calorim::testing
