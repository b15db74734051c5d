// calorim-exporter as a program: its command line, its ending on signals, a
// real Prometheus server scraping it, and the Linux backend reading a fixture
// laptop mounted over /sys and /proc. Every wait is bounded; only loopback
// addresses are used.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <variant>

#include "core/platform/simulated/machine_profile.h"
#include "exporter/options.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "tests/support/child_process.h"

namespace calorim::exporter {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;

// A loopback port that was free a moment ago.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  return bound ? ntohs(address.sin_port) : 0;
}

std::string scrape(int port) {
  httplib::Client client("127.0.0.1", port);
  client.set_connection_timeout(2);
  client.set_read_timeout(5);
  const auto result = client.Get("/metrics");
  return result && result->status == 200 ? result->body : std::string();
}

TEST(ExporterProcess, CommandLine) {
  using Parsed = std::variant<Options, InfoRequest, UsageError>;
  const auto options = [](std::string host, int port, double interval, bool simulate,
                          std::optional<std::string> profile = std::nullopt) {
    return Options{std::move(host), port, interval, simulate, std::move(profile)};
  };
  const std::vector<std::pair<std::vector<std::string>, Parsed>> cases = {
      {{}, options("127.0.0.1", 9847, 5, false)},
      {{"--listen", "0.0.0.0:9100", "--interval", "0.5"}, options("0.0.0.0", 9100, 0.5, false)},
      {{"--listen", "[::1]:0", "--simulate"}, options("::1", 0, 5, true)},
      {{"--simulate", "p.json", "--interval", "3600"}, options("127.0.0.1", 9847, 3600, true, "p.json")},
      {{"--simulate", "--interval", "2"}, options("127.0.0.1", 9847, 2, true)},
      {{"--listen", ":9847", "--interval=2"}, options("0.0.0.0", 9847, 2, false)},
      {{"--listen=[::]:9100", "--simulate=p.json"}, options("::", 9100, 5, true, "p.json")},
      {{"--version"}, InfoRequest::version},
      {{"--interval", "1", "--help"}, InfoRequest::help},
      {{"--cgroup-depth", "0", "--top-processes", "100"},
       Options{"127.0.0.1", 9847, 5, false, std::nullopt, 0, 100}},
      {{"--cgroup-depth", "16"}, Options{"127.0.0.1", 9847, 5, false, std::nullopt, 16, 0}},
  };
  for (const auto& [args, expected] : cases) EXPECT_EQ(parseOptions(args), expected) << ::testing::PrintToString(args);

  // Each bad line: one line on standard error naming the problem; status 2
  // for a mistake in the command line itself (pointing to --help), 1 for a
  // profile that cannot be used.
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"--listen", "9847"}, "bad --listen '9847'"},
      {{"--listen", "localhost:"}, "bad --listen 'localhost:'"},
      {{"--listen", "localhost:65536"}, "bad --listen 'localhost:65536'"},
      {{"--listen", "::1:9847"}, "bad --listen '::1:9847'"},
      {{"--listen"}, "--listen needs [HOST]:PORT"},
      {{"--interval", "abc"}, "bad --interval 'abc'"},
      {{"--interval", "0"}, "bad --interval '0'"},
      {{"--interval", "-5"}, "bad --interval '-5'"},
      {{"--interval", "1e9"}, "bad --interval '1e9'"},
      {{"--interval", "nan"}, "bad --interval 'nan'"},
      {{"--interval", "5s"}, "bad --interval '5s'"},
      {{"--simulate", "/nonexistent/profile.json"}, "cannot read the profile /nonexistent/profile.json"},
      {{"--verbose"}, "unknown option '--verbose'"},
      {{"--simulate", "a.json", "b.json"}, "unexpected argument 'b.json'"},
      {{"--cgroup-depth", "17"}, "bad --cgroup-depth '17'"},
      {{"--cgroup-depth", "-1"}, "bad --cgroup-depth '-1'"},
      {{"--cgroup-depth"}, "--cgroup-depth needs N"},
      {{"--top-processes", "101"}, "bad --top-processes '101'"},
      {{"--top-processes", "2.5"}, "bad --top-processes '2.5'"},
  };
  for (const auto& [args, message] : bad) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::vector<std::string> argv = {EXPORTER_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess exporter(argv);
    const bool usage = !message.starts_with("cannot read");
    EXPECT_EQ(exporter.wait().status, usage ? "exit 2" : "exit 1");
    const std::string errors = exporter.errorOutput();
    EXPECT_TRUE(errors.starts_with("calorim-exporter: " + message)) << errors;
    if (usage) {
      EXPECT_TRUE(errors.ends_with(" (see calorim-exporter --help)\n")) << errors;
    }
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  }
}

TEST(ExporterProcess, PortInUseAndSignals) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    ChildProcess exporter({EXPORTER_BINARY, "--simulate", "--interval", "60", "--listen", "127.0.0.1:0"});
    const std::optional<int> port = exporter.servingPort(30);
    ASSERT_TRUE(port);
    const std::string address = "127.0.0.1:" + std::to_string(*port);
    ChildProcess second({EXPORTER_BINARY, "--simulate", "--listen", address});
    EXPECT_EQ(second.wait().status, "exit 1");
    EXPECT_EQ(second.errorOutput(), "calorim-exporter: cannot listen on " + address + ": Address already in use\n");
    EXPECT_NE(scrape(*port).find("\ncalorim_machine_info{"), std::string::npos);
    exporter.signal(signal);
    // Promptly (within a second on a machine that is not overloaded); the
    // bound only keeps a broken build from hanging the suite.
    EXPECT_EQ(exporter.wait(10).status, "exit 0");
    EXPECT_EQ(exporter.errorOutput(), "");
  }
}

// The built-in laptop with every reading held at its base value.
std::string steadyLaptopProfile() {
  const std::regex variation(R"("variation":\s*[-+.\deE]+)");
  return nlohmann::json::parse(std::regex_replace(std::string(fake::builtinProfileJson()), variation, R"("variation":0)"))
      .dump();
}

TEST(ExporterProcess, PrometheusScrapesTheSimulatedLaptop) {
  ASSERT_TRUE(fs::exists(PROMETHEUS_BINARY)) << PROMETHEUS_BINARY << " is missing: run scripts/setup.sh";
  // The first scrape must come within 28 s, so that the whole test ends within 40 s.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(28);
  const auto secondsLeft = [&] {
    return std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
  };
  const calorim::testing::MachineTree folder;  // an empty temporary folder
  const std::string profile = steadyLaptopProfile();
  std::ofstream(folder.root() / "laptop.json") << profile;
  const double cpuWatts = 3.6;  // the laptop's "CPU Energy" channel
  ASSERT_NE(profile.find(R"("name":"CPU Energy","unit":"mJ","watts":3.6)"), std::string::npos);

  ChildProcess exporter({EXPORTER_BINARY, "--simulate", (folder.root() / "laptop.json").string(), "--interval",
                        "0.25", "--listen", "127.0.0.1:0", "--top-processes", "3"});
  const std::optional<int> exporterPort = exporter.servingPort(secondsLeft());
  ASSERT_TRUE(exporterPort);

  // Prometheus cannot tell which port it took, so it gets one that was free a moment ago.
  const int prometheusPort = freePort();
  std::ofstream(folder.root() / "prometheus.yml")
      << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
      << "scrape_configs:\n  - job_name: calorim\n    static_configs:\n      - targets: ['127.0.0.1:"
      << *exporterPort << "']\n";
  ChildProcess prometheus({PROMETHEUS_BINARY, "--config.file=" + (folder.root() / "prometheus.yml").string(),
                           "--storage.tsdb.path=" + (folder.root() / "data").string(),
                           "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort), "--log.level=warn"},
                          {.logFile = (folder.root() / "prometheus.log").string()});
  ASSERT_FALSE(prometheus.failure()) << *prometheus.failure();

  httplib::Client api("127.0.0.1", prometheusPort);
  api.set_connection_timeout(1);
  api.set_read_timeout(5);
  const auto query = [&](const std::string& promql) -> std::optional<double> {
    const auto result = api.Get("/api/v1/query", {{"query", promql}}, httplib::Headers{});
    if (!result || result->status != 200) return std::nullopt;
    const auto answer = nlohmann::json::parse(result->body, nullptr, false);
    if (!answer.is_object() || !answer.contains("data") || answer["data"]["result"].size() != 1) return std::nullopt;
    return std::stod(answer["data"]["result"][0]["value"][1].get<std::string>());
  };

  // Wait for the first scrape, then until the series is older than the rate's
  // window (a younger series has its rate extrapolated over part of it).
  bool seen = false;
  while (!seen && secondsLeft() > 0) {
    seen = query(R"(calorim_energy_joules_total{domain="cpu"})").has_value();
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  ASSERT_TRUE(seen) << "Prometheus did not collect the series in time; its log is in "
                    << folder.root() / "prometheus.log";
  std::this_thread::sleep_for(std::chrono::seconds(11));
  const std::optional<double> rate = query(R"(rate(calorim_energy_joules_total{domain="cpu"}[10s]))");
  ASSERT_TRUE(rate);
  EXPECT_NEAR(*rate, cpuWatts, 0.1 * cpuWatts);
  EXPECT_EQ(query(R"(up{job="calorim"})"), 1.0);
  EXPECT_EQ(query(R"(calorim_machine_info{chip="Apple M3 Pro",simulated="true"})"), 1.0);
  // The README's queries: the parts add up to the total, which counts energy.
  const std::optional<double> total = query("sum by (instance) (calorim_total_power_watts)");
  const std::optional<double> parts = query(R"(sum(calorim_power_watts{job="calorim"}))");
  ASSERT_TRUE(total && parts);
  EXPECT_NEAR(*parts, *total, 1e-9 * *total);
  EXPECT_GT(query(R"(sum(increase(calorim_total_energy_joules_total{job="calorim"}[24h])) / 3.6e6)").value_or(0), 0);
  EXPECT_EQ(query("calorim_energy_available"), 1.0);
  EXPECT_EQ(query("calorim_energy_available == 0"), std::nullopt);
  // The laptop has no whole-platform counter: no platform series, not a 0.
  EXPECT_EQ(query("count(calorim_platform_power_watts)"), std::nullopt);
  // The three busiest of the laptop's processes take 22 %, 16 % and 14 % of its CPU time.
  EXPECT_EQ(query(R"(count(calorim_process_power_watts))"), 3.0);
  const std::optional<double> xcode = query(R"(calorim_process_power_watts{pid="2210",name="Xcode"})");
  ASSERT_TRUE(xcode);
  EXPECT_NEAR(*xcode, 0.22 * cpuWatts, 0.01 * cpuWatts);
  EXPECT_EQ(query(R"(calorim_process_power_method_info{method="cpuTimeShare"})"), 1.0);

  prometheus.signal(SIGTERM);
  exporter.signal(SIGTERM);
  EXPECT_EQ(exporter.wait(10).status, "exit 0");
  EXPECT_EQ(exporter.errorOutput(), "");
}

TEST(ExporterProcess, ReadsTheLinuxLaptopMountedOverSysAndProc) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a fixture machine over /sys and /proc needs root";
  calorim::testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  ChildProcess exporter({EXPORTER_BINARY, "--interval", "1", "--listen", "127.0.0.1:0"},
                        {.fixtureRoot = tree.root()});
  if (exporter.failure()) GTEST_SKIP() << "no private mount namespace here: " << *exporter.failure();
  const std::optional<int> port = exporter.servingPort(30);
  ASSERT_TRUE(port);

  // Without --simulate the real paths under /sys and /proc lead to the laptop;
  // what the exporter makes of it is its golden page.
  const std::string text = scrape(*port);
  EXPECT_NE(text.find(R"(machine="Lenovo ThinkPad T14 Gen 3",os="Linux 6.1.0",simulated="false"} 1)"), std::string::npos)
      << text;

  exporter.signal(SIGTERM);
  EXPECT_EQ(exporter.wait(10).status, "exit 0");
  EXPECT_EQ(exporter.errorOutput(), "");
}

}  // namespace
}  // namespace calorim::exporter
