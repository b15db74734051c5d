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

#include <array>
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
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::optional<FixtureMounts>& mounts = std::nullopt,
               const std::optional<std::filesystem::path>& logFile = std::nullopt) {
    std::vector<std::pair<std::string, std::string>> binds;
    if (mounts) {
      for (const char* file : {"stat", "cpuinfo", "meminfo", "sys/kernel/osrelease"}) {
        if (std::filesystem::exists(mounts->proc / file)) {
          binds.emplace_back((mounts->proc / file).string(), std::string("/proc/") + file);
        }
      }
    }
    const std::string sys = mounts ? mounts->sys.string() : std::string();
    const std::string log = logFile ? logFile->string() : std::string();
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    int out[2], err[2], status[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(status, O_CLOEXEC) != 0) {
      failure_ = std::string("pipe: ") + std::strerror(errno);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      // The child: system calls only, until exec.
      const auto fail = [&](int step) {
        const std::array<int, 2> f = {step, errno};
        (void)!::write(status[1], f.data(), sizeof f);
        ::_exit(127);
      };
      if (!sys.empty()) {
        if (::unshare(CLONE_NEWNS) != 0) fail(0);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail(1);
        if (::mount(sys.c_str(), "/sys", nullptr, MS_BIND | MS_REC, nullptr) != 0) fail(2);
        for (const auto& [source, target] : binds) {
          if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) fail(3);
        }
      }
      if (!log.empty()) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0) fail(4);
      } else if (::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0) {
        fail(4);
      }
      ::execv(cargv[0], cargv.data());
      fail(4);
    }
    ::close(out[1]);
    ::close(err[1]);
    ::close(status[1]);
    out_ = out[0];
    err_ = err[0];
    if (pid_ < 0) {
      failure_ = std::string("fork: ") + std::strerror(errno);
      ::close(status[0]);
      return;
    }
    // Exec closes the status pipe: end of file means the program runs.
    std::array<int, 2> f{};
    const ssize_t n = ::read(status[0], f.data(), sizeof f);
    ::close(status[0]);
    if (n == static_cast<ssize_t>(sizeof f)) {
      static constexpr std::array<const char*, 5> kSteps = {"unshare(CLONE_NEWNS)", "making the mount tree private",
                                                            "mounting the fixture over /sys",
                                                            "mounting a fixture file over /proc", "exec"};
      failure_ = std::string(kSteps[static_cast<std::size_t>(f[0])]) + " failed: " + std::strerror(f[1]);
      wait(5);
    }
  }

  ~ChildProcess() {
    if (pid_ > 0 && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  [[nodiscard]] const std::optional<std::string>& failure() const { return failure_; }

  // The next line of standard output; absent at its end or after `seconds`.
  std::optional<std::string> readLine(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    while (true) {
      if (const std::size_t end = output_.find('\n'); end != std::string::npos) {
        std::string line = output_.substr(0, end);
        output_.erase(0, end + 1);
        return line;
      }
      if (!readSome(out_, output_, deadline)) return std::nullopt;
    }
  }

  // The port of the exporter's "serving http://HOST:PORT/metrics" line.
  std::optional<int> servingPort(double seconds) {
    const std::optional<std::string> line = readLine(seconds);
    if (!line) return std::nullopt;
    const std::size_t end = line->rfind("/metrics");
    const std::size_t colon = line->rfind(':', end);
    if (end == std::string::npos || colon == std::string::npos) return std::nullopt;
    return std::stoi(line->substr(colon + 1, end - colon - 1));
  }

  void signal(int number) const { ::kill(pid_, number); }

  // The exit status; -1 when it ended through a signal, or did not end within
  // `seconds` (it is then killed).
  int wait(double seconds) {
    if (exitStatus_) return *exitStatus_;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        exitStatus_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return *exitStatus_;
  }

  // All of standard error, once the process has ended.
  std::string errors() {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (readSome(err_, text, deadline)) {
    }
    return text;
  }

 private:
  static bool readSome(int fd, std::string& into, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (fd < 0 || left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string output_;
  std::optional<int> exitStatus_;
  std::optional<std::string> failure_;
};

}  // namespace calorim::testing
