#pragma once
// A program started by a test with pipes on its standard input, output and
// error (or its output going to a log file), as a client or a supervisor
// starts it. Every read and wait has a deadline, so a program that hangs fails
// the test instead of stalling it; one still running at the end is killed.
// Optionally it runs in a private mount namespace where a fixture machine lies
// over /sys and over the /proc files the Linux backend reads, as root or, after
// the mounts, as the ordinary user "nobody". That needs root and a kernel that
// allows new mount namespaces; `failure()` says which step failed where not.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "core/json.h"

namespace calorim::testing {

struct ChildOptions {
  std::optional<std::filesystem::path> fixtureRoot{};  // its sys/ and proc/ files mounted over the real ones
  bool asNobody = false;                               // drop to user "nobody" after the mounts
  std::string logFile{};                               // standard output and error go there instead
};

class ChildProcess {
 public:
  struct Exit {
    std::string status;     // "exit N" or "signal N"
    double cpuSeconds = 0;  // user + system time the child used
  };

  explicit ChildProcess(std::vector<std::string> argv, const ChildOptions& options = {}) {
    // Writing to a child that has gone must fail with EPIPE, not kill the test.
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<std::pair<std::string, std::string>> binds;
    if (options.fixtureRoot) {
      binds.emplace_back((*options.fixtureRoot / "sys").string(), "/sys");
      for (const char* file : {"stat", "cpuinfo", "meminfo", "sys/kernel/osrelease"}) {
        const std::filesystem::path source = *options.fixtureRoot / "proc" / file;
        if (std::filesystem::exists(source)) binds.emplace_back(source.string(), std::string("/proc/") + file);
      }
    }
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    int in[2], out[2], err[2], report[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        ::pipe2(report, O_CLOEXEC) != 0) {
      failure_ = std::string("pipe2: ") + std::strerror(errno);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      // The child: system calls only, until exec. It reports the failed step and errno.
      const auto fail = [&](const char* step) {
        const std::string text = std::string(step) + " failed: " + std::strerror(errno);
        (void)!::write(report[1], text.data(), text.size());
        ::_exit(127);
      };
      // The program starts with SIGPIPE at its default action, as under a real client.
      ::signal(SIGPIPE, SIG_DFL);
      if (options.fixtureRoot) {
        if (::unshare(CLONE_NEWNS) != 0) fail("unshare(CLONE_NEWNS)");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("making the mounts private");
        for (const auto& [source, target] : binds) {
          if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) fail("mount");
        }
      }
      constexpr uid_t kNobody = 65534;
      if (options.asNobody && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                               ::setresuid(kNobody, kNobody, kNobody) != 0)) {
        fail("becoming an ordinary user");
      }
      const int log = options.logFile.empty() ? -1 : ::open(options.logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (::dup2(in[0], 0) < 0 || ::dup2(log >= 0 ? log : out[1], 1) < 0 || ::dup2(log >= 0 ? log : err[1], 2) < 0) {
        fail("dup2");
      }
      ::execv(args[0], args.data());
      fail("exec");
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    ::close(report[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    if (pid_ < 0) {
      failure_ = std::string("fork: ") + std::strerror(errno);
    } else {
      // Exec closes the report pipe: end of file means the program runs.
      std::string text;
      while (readSome(report[0], text, Clock::now() + std::chrono::seconds(30)) == Read::data) {
      }
      if (!text.empty()) {
        failure_ = text;
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
      }
    }
    ::close(report[0]);
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {stdin_, stdout_, stderr_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  [[nodiscard]] const std::optional<std::string>& failure() const { return failure_; }
  void signal(int number) const { ::kill(pid_, number); }
  [[nodiscard]] pid_t pid() const { return pid_; }

  // Writes `bytes` to the child's standard input as they are.
  void write(std::string_view bytes) {
    ASSERT_GE(stdin_, 0) << "standard input already closed";
    while (!bytes.empty()) {
      const ssize_t n = ::write(stdin_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      ASSERT_GT(n, 0) << "write to the child: " << std::strerror(errno);
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  void send(std::string_view line) { write(std::string(line) + "\n"); }
  void closeInput() { closeFd(stdin_); }
  // Closes this end of the child's standard output, as a client that goes away does.
  void closeOutput() { closeFd(stdout_); }

  // The next line of standard output without its line feed; absent at end of
  // output. No line in time, or output ending inside a line, is a failure.
  std::optional<std::string> readLine(double timeoutSeconds = 30) {
    const auto deadline = Clock::now() + toDuration(timeoutSeconds);
    for (;;) {
      if (const auto end = outBuffer_.find('\n'); end != std::string::npos) {
        std::string line = outBuffer_.substr(0, end);
        outBuffer_.erase(0, end + 1);
        return line;
      }
      if (outEnded_) {
        if (!outBuffer_.empty()) ADD_FAILURE() << "output ended inside a line: " << outBuffer_;
        return std::nullopt;
      }
      const Read read = readSome(stdout_, outBuffer_, deadline);
      if (read == Read::timeout) {
        ADD_FAILURE() << "no complete line within " << timeoutSeconds << " s; have: " << outBuffer_;
        return std::nullopt;
      }
      outEnded_ = read == Read::end;
    }
  }

  // Sends one request line and returns its one response, parsed (null when none came).
  Json exchange(std::string_view line) {
    send(line);
    const std::optional<std::string> reply = readLine();
    if (!reply) return nullptr;
    const Json parsed = Json::parse(*reply, nullptr, false);
    EXPECT_TRUE(parsed.is_object()) << *reply;
    return parsed;
  }

  // Calls MCP tool `name` and returns the record its one text item holds (null when none came).
  Json callTool(int id, std::string_view name, const Json& arguments = Json::object()) {
    Json request = {{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}};
    request["params"] = Json{{"name", name}, {"arguments", arguments}};
    const Json reply = exchange(request.dump());
    const Json::json_pointer text("/result/content/0/text");
    return reply.contains(text) ? Json::parse(reply.at(text).get<std::string>(), nullptr, false) : Json();
  }

  // The port of a server's first line, "…: serving http://HOST:PORT/metrics";
  // absent when no such line comes within `seconds`.
  std::optional<int> servingPort(double seconds) {
    const std::optional<std::string> line = readLine(seconds);
    const std::size_t end = line ? line->rfind("/metrics") : std::string::npos;
    const std::size_t colon = end == std::string::npos ? end : line->rfind(':', end);
    if (colon == std::string::npos) return std::nullopt;
    return std::atoi(line->c_str() + colon + 1);
  }

  // Everything still to come on standard output, or on standard error, up to its end.
  std::string restOfOutput() {
    std::string text = std::exchange(outBuffer_, {});
    if (!outEnded_) text = readToEnd(stdout_, std::move(text));
    outEnded_ = true;
    return text;
  }
  std::string errorOutput() { return readToEnd(stderr_, {}); }

  // Waits for the child to end; past the deadline it is killed and the test fails.
  Exit wait(double timeoutSeconds = 30) {
    Exit result;
    if (pid_ <= 0) return result;
    const auto deadline = Clock::now() + toDuration(timeoutSeconds);
    rusage usage{};
    int status = 0;
    for (;;) {
      if (::wait4(pid_, &status, WNOHANG, &usage) == pid_) break;
      if (Clock::now() >= deadline) {
        ADD_FAILURE() << "the child did not end within " << timeoutSeconds << " s";
        ::kill(pid_, SIGKILL);
        ::wait4(pid_, &status, 0, &usage);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.status = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                      : "signal " + std::to_string(WTERMSIG(status));
    return result;
  }

 private:
  using Clock = std::chrono::steady_clock;
  enum class Read { data, end, timeout };

  static Clock::duration toDuration(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }

  static void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  // Appends what `fd` has, waiting for it until `deadline`.
  static Read readSome(int fd, std::string& into, Clock::time_point deadline) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{fd, POLLIN, 0};
      const int ready = fd >= 0 && left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return fd >= 0 ? Read::timeout : Read::end;
      char chunk[65536];
      const ssize_t n = ready > 0 ? ::read(fd, chunk, sizeof chunk) : -1;
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Read::end;
      into.append(chunk, static_cast<std::size_t>(n));
      return Read::data;
    }
  }

  static std::string readToEnd(int fd, std::string text, double timeoutSeconds = 30) {
    const auto deadline = Clock::now() + toDuration(timeoutSeconds);
    for (Read read = Read::data; read == Read::data;) {
      read = readSome(fd, text, deadline);
      if (read == Read::timeout) ADD_FAILURE() << "output did not end within " << timeoutSeconds << " s";
    }
    return text;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::string outBuffer_;
  bool outEnded_ = false;
  std::optional<std::string> failure_;
};

}  // namespace calorim::testing
