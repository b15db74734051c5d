// calorim-probe on the Linux backend against fixture machines.
//  - In process: the server over a copy of the laptop whose counters a test
//    clock advances, so the JSON of its answers carries known figures.
//  - As the product binary: calorim-probe started in a private mount namespace
//    where a fixture machine lies over /sys and over the /proc files the
//    backend reads, so the real process reads the fixture through the real
//    paths, as root or, after the mounts, as the ordinary user "nobody".
//    That needs root and a kernel that allows new mount namespaces;
//    elsewhere (unprivileged users, most containers) these tests are skipped.

#if defined(__linux__)

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/linux/linux_platform.h"
#include "probe/calorim_probe.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"

namespace calorim::probe {
namespace {

namespace fs = std::filesystem;

Json toolCall(int id, const std::string& name, const Json& arguments = Json::object()) {
  Json request = {{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}};
  request["params"] = Json{{"name", name}, {"arguments", arguments}};
  return request;
}

// The record inside a tool answer.
Json toolText(const Json& reply) {
  const auto& content = reply.at("result").at("content");
  return content.size() == 1 ? Json::parse(content[0].at("text").get<std::string>()) : Json();
}

TEST(LinuxProbe, SnapshotAndWindowJsonFromAdvancingCounters) {
  testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  auto machineClock = std::make_shared<testing::MachineClock>(tree.root());
  testing::MachineClock& clock = *machineClock;
  testing::setSteadyLaptopLoad(clock);
  std::shared_ptr<Platform> platform = sysfs::makeLinuxPlatform(tree.root(), machineClock, "");

  std::vector<std::string> lines;
  CalorimProbe server(std::make_shared<PowerService>(platform), [&](std::string_view text) {
    lines.emplace_back(text);
    return true;
  });
  const auto exchange = [&](const Json& request) {
    server.handleLine(request.dump());
    return lines.empty() ? Json() : Json::parse(lines.back());
  };

  const Json info = toolText(exchange(toolCall(1, "power_system_info")));
  EXPECT_EQ(info["chipName"], "12th Gen Intel(R) Core(TM) i7-1260P");
  EXPECT_EQ(info["machineName"], "Lenovo ThinkPad T14 Gen 3");
  EXPECT_EQ(info["osVersion"], "Linux 6.1.0");

  const Json snapshot = toolText(exchange(toolCall(2, "power_snapshot")));
  EXPECT_DOUBLE_EQ(snapshot["duration"].get<double>(), 1.0);
  EXPECT_DOUBLE_EQ(snapshot["cpuPower"].get<double>(), 5.0);
  EXPECT_DOUBLE_EQ(snapshot["gpuPower"].get<double>(), 2.0);
  EXPECT_DOUBLE_EQ(snapshot["dramPower"].get<double>(), 1.5);
  EXPECT_DOUBLE_EQ(snapshot["totalPower"].get<double>(), 13.5);
  EXPECT_DOUBLE_EQ(snapshot["cpuUsage"].get<double>(), 0.425);
  EXPECT_DOUBLE_EQ(snapshot["eCpuUsage"].get<double>(), 0.25);
  EXPECT_DOUBLE_EQ(snapshot["pCpuUsage"].get<double>(), 0.6);
  EXPECT_EQ(snapshot["cpuTemp"], 57.0);
  EXPECT_EQ(snapshot["fans"].dump(), R"([{"id":0,"rpm":2170.0}])");
  EXPECT_EQ(snapshot["energyBreakdown"]["other"].dump(), R"([{"name":"Package rest","watts":5.0}])");

  exchange(toolCall(3, "power_begin_window", {{"name", "compile"}}));
  clock.sleep(4.0);
  const Json energy = toolText(exchange(toolCall(4, "power_end_window", {{"name", "compile"}})));
  EXPECT_DOUBLE_EQ(energy["duration"].get<double>(), 4.0);
  EXPECT_DOUBLE_EQ(energy["cpuEnergy"].get<double>(), 20.0);
  EXPECT_DOUBLE_EQ(energy["gpuEnergy"].get<double>(), 8.0);
  EXPECT_DOUBLE_EQ(energy["dramEnergy"].get<double>(), 6.0);
  EXPECT_DOUBLE_EQ(energy["totalEnergy"].get<double>(), 54.0);
}

// ---- the product binary in a mount namespace --------------------------------

// What the child reports through its status pipe when a step before exec fails.
struct SetupFailure {
  int step = 0;
  int error = 0;
};

constexpr std::array<const char*, 6> kSteps = {"unshare(CLONE_NEWNS)", "making the mount tree private",
                                               "mounting the fixture over /sys",
                                               "mounting a fixture file over /proc", "exec",
                                               "becoming an ordinary user"};

constexpr uid_t kNobody = 65534;

// The /proc files the backend reads, relative to the fixture's proc folder.
constexpr std::array<const char*, 4> kProcFiles = {"stat", "cpuinfo", "meminfo", "sys/kernel/osrelease"};

class NamespacedProbe {
 public:
  // Starts calorim-probe with `sys` mounted over /sys and each file of
  // `proc` named in `kProcFiles` over its /proc counterpart, as root or as
  // the user "nobody". `failure()` says why it could not be started.
  NamespacedProbe(const fs::path& sys, const fs::path& proc, bool asNobody = false) {
    std::vector<std::pair<std::string, std::string>> mounts;
    for (const char* file : kProcFiles) {
      if (fs::exists(proc / file)) mounts.emplace_back((proc / file).string(), std::string("/proc/") + file);
    }
    const std::string sysSource = sys.string();
    int in[2], out[2], err[2], status[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        ::pipe2(status, O_CLOEXEC) != 0) {
      failure_ = std::string("pipe: ") + std::strerror(errno);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      // The child: system calls only, until exec.
      const auto fail = [&](int step) {
        const SetupFailure f{step, errno};
        (void)!::write(status[1], &f, sizeof f);
        ::_exit(127);
      };
      if (::unshare(CLONE_NEWNS) != 0) fail(0);
      if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail(1);
      if (::mount(sysSource.c_str(), "/sys", nullptr, MS_BIND | MS_REC, nullptr) != 0) fail(2);
      for (const auto& [source, target] : mounts) {
        if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) fail(3);
      }
      if (asNobody && (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
                       ::setresuid(kNobody, kNobody, kNobody) != 0)) {
        fail(5);
      }
      if (::dup2(in[0], 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(err[1], 2) < 0) fail(4);
      ::execl(PROBE_BINARY, PROBE_BINARY, static_cast<char*>(nullptr));
      fail(4);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    ::close(status[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    errors_ = err[0];
    if (pid_ < 0) {
      failure_ = std::string("fork: ") + std::strerror(errno);
      ::close(status[0]);
      return;
    }
    // Exec closes the status pipe: end of file means the program runs.
    SetupFailure f;
    const ssize_t n = ::read(status[0], &f, sizeof f);
    ::close(status[0]);
    if (n == static_cast<ssize_t>(sizeof f)) {
      failure_ = std::string(kSteps[static_cast<std::size_t>(f.step)]) + " failed: " + std::strerror(f.error);
    }
  }

  ~NamespacedProbe() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {toChild_, fromChild_, errors_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  NamespacedProbe(const NamespacedProbe&) = delete;
  NamespacedProbe& operator=(const NamespacedProbe&) = delete;

  [[nodiscard]] const std::optional<std::string>& failure() const { return failure_; }

  // Sends one request and returns the one line that answers it; null when
  // none comes within 30 seconds.
  Json exchange(const Json& request) {
    const std::string line = request.dump() + "\n";
    if (::write(toChild_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return nullptr;
    while (true) {
      if (const std::size_t end = buffered_.find('\n'); end != std::string::npos) {
        const std::string reply = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return Json::parse(reply);
      }
      if (!readSome(fromChild_, buffered_)) return nullptr;
    }
  }

  // Closes standard input, then waits for the exit status; also collects
  // what the program wrote to standard output and standard error.
  int finish(std::string& output, std::string& errors) {
    ::close(toChild_);
    toChild_ = -1;
    output = buffered_;
    while (readSome(fromChild_, output)) {
    }
    while (readSome(errors_, errors)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  // Appends what `fd` has; false at end of file, on an error or after 30 s without data.
  static bool readSome(int fd, std::string& into) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30'000) <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  bool exited_ = false;
  int toChild_ = -1;
  int fromChild_ = -1;
  int errors_ = -1;
  std::string buffered_;
  std::optional<std::string> failure_;
};

constexpr const char* kNeedsRoot =
    "calorim-probe against a fixture mounted over /sys and /proc needs root; run the tests as root to include it";

std::string noNamespace(const std::string& failure) {
  return "no private mount namespace here (" + failure + "); calorim-probe is not run against the fixture";
}

TEST(LinuxProbeProcess, ReadsTheMachineMountedOverSysAndProc) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  NamespacedProbe probe(tree.root() / "sys", tree.root() / "proc");
  if (probe.failure()) GTEST_SKIP() << noNamespace(*probe.failure());

  const Json hello = probe.exchange({{"jsonrpc", "2.0"}, {"id", 0}, {"method", "initialize"}});
  ASSERT_TRUE(hello.is_object()) << "no answer to initialize";
  EXPECT_EQ(hello["result"]["serverInfo"]["name"], "calorim-power");

  const Json info = toolText(probe.exchange(toolCall(1, "power_system_info")));
  EXPECT_EQ(info["chipName"], "12th Gen Intel(R) Core(TM) i7-1260P");
  EXPECT_EQ(info["osVersion"], "Linux 6.1.0");
  EXPECT_EQ(info["machineName"], "Lenovo ThinkPad T14 Gen 3");
  EXPECT_EQ(info["eCores"], 8);
  EXPECT_EQ(info["pCores"], 8);
  EXPECT_DOUBLE_EQ(info["totalMemoryGB"].get<double>(), 16084868.0 / (1 << 20));

  // The counters move only while the window is open. Energy is a difference of
  // two readings over the window's own time, so the joules are exact whatever
  // time the process measured.
  EXPECT_EQ(toolText(probe.exchange(toolCall(2, "power_begin_window", {{"name", "e2e"}})))["status"], "started");
  testing::MachineClock counters(tree.root());
  testing::setSteadyLaptopLoad(counters);
  counters.sleep(2.0);
  const Json energy = toolText(probe.exchange(toolCall(3, "power_end_window", {{"name", "e2e"}})));
  EXPECT_NEAR(energy["cpuEnergy"].get<double>(), 10.0, 1e-9);
  EXPECT_NEAR(energy["gpuEnergy"].get<double>(), 4.0, 1e-9);
  EXPECT_NEAR(energy["dramEnergy"].get<double>(), 3.0, 1e-9);
  EXPECT_NEAR(energy["totalEnergy"].get<double>(), 27.0, 1e-9);
  EXPECT_GT(energy["duration"].get<double>(), 0.0);

  // Nothing moves during the snapshot's own second, so its powers are 0; its
  // CPU usage covers the time since the program started, ticks included.
  const Json snapshot = toolText(probe.exchange(toolCall(4, "power_snapshot")));
  EXPECT_EQ(snapshot["cpuPower"], 0.0);
  EXPECT_EQ(snapshot["totalPower"], 0.0);
  EXPECT_DOUBLE_EQ(snapshot["cpuUsage"].get<double>(), 0.425);
  EXPECT_EQ(snapshot["cpuTemp"], 57.0);
  EXPECT_EQ(snapshot["fans"].dump(), R"([{"id":0,"rpm":2170.0}])");

  std::string output, errors;
  EXPECT_EQ(probe.finish(output, errors), 0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(errors, "");
}

TEST(LinuxProbeProcess, ReportsTheDiscreteRadeon) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  testing::MachineTree tree("desktop");
  tree.copyProc("desktop");
  NamespacedProbe probe(tree.root() / "sys", tree.root() / "proc");
  if (probe.failure()) GTEST_SKIP() << noNamespace(*probe.failure());

  // The card's 31 W average holds over however long the process's second
  // really lasted (a busy test machine stretches it); the RAPL counters stand
  // still, so the card is all the power there is.
  const Json snapshot = toolText(probe.exchange(toolCall(1, "power_snapshot")));
  EXPECT_GE(snapshot["gpuPower"].get<double>(), 31.0 * 0.999);
  EXPECT_LT(snapshot["gpuPower"].get<double>(), 31.0 * 2);
  EXPECT_EQ(snapshot["totalPower"], snapshot["gpuPower"]);
  EXPECT_EQ(snapshot["gpuUsage"], 0.37);
  EXPECT_EQ(snapshot["gpuFreqMHz"], 1835.0);
  EXPECT_EQ(snapshot["gpuTemp"], 41.0);
  EXPECT_EQ(snapshot["fans"][0]["rpm"], 1150.0);
  ASSERT_EQ(snapshot["energyBreakdown"]["other"].size(), 1u);
  EXPECT_EQ(snapshot["energyBreakdown"]["other"][0]["name"], "GPU card0");

  const Json calm = toolText(probe.exchange(toolCall(2, "power_is_throttling")));
  EXPECT_EQ(calm["throttling"], false);
  EXPECT_EQ(calm["gpuTemp"], 41.0);
  EXPECT_EQ(calm["gpuFreqMHz"], 1835.0);
  EXPECT_EQ(calm["gpuUsage"], 0.37);

  // The card drops to 400 MHz while 80 % busy.
  tree.write("sys/class/hwmon/hwmon2/freq1_input", "400000000");
  tree.write("sys/devices/pci0000:00/0000:00:03.1/0000:09:00.0/gpu_busy_percent", "80");
  const Json dropped = toolText(probe.exchange(toolCall(3, "power_is_throttling")));
  EXPECT_EQ(dropped["throttling"], true);
  EXPECT_EQ(dropped["reason"], "freq_drop");
  EXPECT_EQ(dropped["gpuFreqMHz"], 400.0);
  EXPECT_EQ(dropped["gpuUsage"], 0.8);

  std::string output, errors;
  EXPECT_EQ(probe.finish(output, errors), 0);
  EXPECT_EQ(errors, "");
}

// A machine whose energy the probe cannot read: it fails to start, with the
// line callers match first and then what the case is and where access is
// explained.
TEST(LinuxProbeProcess, WithoutReadableEnergyCountersTheProbeSaysWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << kNeedsRoot;
  struct Case {
    const char* name;
    bool ordinaryUser;
    std::string secondLine;
  };
  const Case cases[] = {
      // The VM: /proc only, an empty /sys.
      {"vm", false,
       "This machine has no energy counters in /sys/class/powercap (a VM, a container or a processor without "
       "RAPL): see \"Granting energy access\" in the README.\n"},
      // The laptop as the kernel leaves it: every energy_uj root's alone.
      {"laptop", true,
       "The energy counters in /sys/class/powercap are there, but this user may not read them: see "
       "\"Granting energy access\" in the README.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MachineTree tree = c.ordinaryUser ? testing::MachineTree(c.name) : testing::MachineTree();
    tree.copyProc(c.name);
    fs::create_directories(tree.root() / "sys");
    if (c.ordinaryUser) {
      for (const auto& entry : fs::recursive_directory_iterator(tree.root() / "sys/class/powercap")) {
        if (entry.path().filename() == "energy_uj") ::chmod(entry.path().c_str(), 0400);
      }
    }
    NamespacedProbe probe(tree.root() / "sys", tree.root() / "proc", c.ordinaryUser);
    if (probe.failure()) GTEST_SKIP() << noNamespace(*probe.failure());

    std::string output, errors;
    EXPECT_EQ(probe.finish(output, errors), 1);
    EXPECT_EQ(output, "");
    EXPECT_EQ(errors, "Failed to start: channelNotFound(\"Energy Model\")\n" + c.secondLine);
  }
}

}  // namespace
}  // namespace calorim::probe

#endif  // defined(__linux__)
