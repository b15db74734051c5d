// The exposition of fixed simulated samples against golden files (refreshed
// with UPDATE_GOLDEN=1), each also linted by promtool: the energy counters of
// the laptop add every round's joules and a failed round adds none; energy
// counters that appear later; and the choice of format from an Accept header.
// Then the HTTP side in process, over the simulated laptop sampled every 10 ms:
// many clients scraping while the worker publishes, and the other routes.

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/platform/simulated/simulated_machine.h"
#include "exporter/collector.h"
#include "exporter/exposition.h"
#include "exporter/server.h"
#include "tests/support/golden.h"

#if defined(__linux__)
#include "core/platform/linux/linux_platform.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"
#endif

namespace calorim::exporter {
namespace {

namespace fs = std::filesystem;

// promtool's verdict on a text-format exposition: its exit status and output.
std::pair<int, std::string> promtoolCheck(const fs::path& file) {
  const std::string command = std::string(PROMTOOL_BINARY) + " check metrics < '" + file.string() + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, "popen failed"};
  std::string output;
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

fake::MachineProfile laptopWithoutEnergy() {
  fake::MachineProfile profile = fake::builtinProfile();
  std::erase_if(profile.counters, [](const fake::ProfileCounter& c) { return c.group == "Energy Model"; });
  return profile;
}

// One state in the text format and in OpenMetrics.
struct Expositions {
  std::string text;
  std::string openMetrics;
};

// A collector on the simulated laptop with a fake clock, after `rounds` rounds.
Expositions collected(const fake::MachineProfile& profile, int rounds,
                      const std::function<void(fake::SimulatedMachine&)>& beforeLast = {},
                      ProcessExport processes = {}) {
  fake::SimulatedMachine machine(profile);
  Collector collector(machine.platform(), 5.0, true, processes);
  for (int i = 0; i < rounds; ++i) {
    if (i == rounds - 1 && beforeLast) beforeLast(machine);
    EXPECT_TRUE(collector.collect());
  }
  return {collector.scrape(ExpositionFormat::prometheusText), collector.scrape(ExpositionFormat::openMetrics)};
}

#if defined(__linux__)
// The Linux laptop fixture at a steady load, after one round.
Expositions collectedLinuxLaptop() {
  calorim::testing::MachineTree tree("laptop");
  tree.copyProc("laptop");
  auto clock = std::make_shared<calorim::testing::MachineClock>(tree.root());
  calorim::testing::setSteadyLaptopLoad(*clock);
  Collector collector(sysfs::makeLinuxPlatform(tree.root(), clock, ""), 2.0, false, ProcessExport{2, 0});
  EXPECT_TRUE(collector.collect());
  return {collector.scrape(ExpositionFormat::prometheusText), collector.scrape(ExpositionFormat::openMetrics)};
}
#endif

TEST(Exposition, GoldenFilesOfFixedSamples) {
  MetricsState hostile;
  hostile.machine = {"Chip \"X\" \\ 2\nnext", "bad \xff\xfe utf-8", "Linux 6.1.0", false};
  hostile.cpuUsage = {{"all", 0.25}};
  hostile.coreUsage = {0.5, 0};
  hostile.memoryUsedBytes = 18446744073709551615ULL;
  hostile.sampleFailures = 3;
  hostile.processPowerWatts = {{-1, "a\"b\\c\nd \xff", 0.5}};
  hostile.processMethod = "cpuTimeShare";
  hostile.cgroupEnergyJoules = {{"system.slice/x\\x2d\"y\".service", 1.25}};

  struct Case {
    const char* name;
    std::function<Expositions()> exposition;
  };
  std::vector<Case> cases = {
      {"laptop", [] { return collected(fake::builtinProfile(), 2); }},
      {"laptop_before_first_sample", [] { return collected(fake::builtinProfile(), 0); }},
      {"laptop_failed_sample",
       [] {
         return collected(fake::builtinProfile(), 2,
                          [](fake::SimulatedMachine& m) { m.fakes().counters->pushReading(std::nullopt); });
       }},
      {"laptop_without_energy", [] { return collected(laptopWithoutEnergy(), 1, {}, ProcessExport{2, 3}); }},
      {"laptop_top_processes", [] { return collected(fake::builtinProfile(), 2, {}, ProcessExport{2, 3}); }},
      {"hostile_labels",
       [&hostile] {
         return Expositions{formatExposition(hostile, ExpositionFormat::prometheusText),
                            formatExposition(hostile, ExpositionFormat::openMetrics)};
       }},
  };
#if defined(__linux__)
  cases.push_back({"linux_laptop", collectedLinuxLaptop});
#endif

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [text, openMetrics] = c.exposition();
    const std::string both = text + "\n" + openMetrics;

    EXPECT_GOLDEN(fs::path(GOLDEN_DIR) / (std::string(c.name) + ".txt"), both);

    const fs::path lintInput = fs::temp_directory_path() / ("calorim-exporter-" + std::string(c.name) + ".prom");
    std::ofstream(lintInput, std::ios::binary) << text;
    const auto [status, output] = promtoolCheck(lintInput);
    fs::remove(lintInput);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
  }
}

TEST(Exposition, EnergyCountersThatAppearLaterAreTakenUp) {
  fake::FakeMachine machine;
  Collector collector(machine.platform, 1.0, false);
  ASSERT_TRUE(collector.collect());
  EXPECT_FALSE(collector.measuresEnergy());
  EXPECT_EQ(collector.energyProblem(), "IOReport channel group 'Energy Model' not found");
  EXPECT_TRUE(collector.latest()->energyJoules.empty());
  EXPECT_EQ(collector.latest()->energyUnavailableReason, "no_counters");

  // The counters become readable: one channel, 1,500 mJ over the next sample.
  const auto reading = [](std::int64_t mj) { return CounterDelta{{"Energy Model", "", "CPU Energy", "mJ", mj, {}}}; };
  for (const std::int64_t mj : {1000, 1000, 1000, 2500}) machine.counters->pushReading(reading(mj));
  ASSERT_TRUE(collector.collect());
  EXPECT_TRUE(collector.measuresEnergy());
  EXPECT_EQ(collector.energyProblem(), "");
  // The one part is the whole total: nothing is left for "other".
  const std::vector<LabelledValue> joules = {{"cpu", 1.5}, {"other", 0}};
  EXPECT_EQ(collector.latest()->energyJoules, joules);
  EXPECT_EQ(collector.latest()->totalEnergyJoules, 1.5);
  EXPECT_EQ(collector.latest()->energyUnavailableReason, "");
}

TEST(Exposition, FormatFromTheAcceptHeader) {
  const std::array<std::pair<const char*, ExpositionFormat>, 9> cases = {{
      {"", ExpositionFormat::prometheusText},
      {"*/*", ExpositionFormat::prometheusText},
      {"text/plain;version=0.0.4", ExpositionFormat::prometheusText},
      {"application/openmetrics-text", ExpositionFormat::openMetrics},
      // What Prometheus sends.
      {"application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,"
       "text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
       ExpositionFormat::openMetrics},
      {"Application/OpenMetrics-Text; Version=\"1.0.0\"", ExpositionFormat::openMetrics},
      {"application/openmetrics-text;version=0.0.1", ExpositionFormat::prometheusText},
      {"application/openmetrics-text;q=0.2, text/plain", ExpositionFormat::prometheusText},
      {"application/openmetrics-text;q=0, */*;q=0.1", ExpositionFormat::prometheusText},
  }};
  for (const auto& [accept, format] : cases) EXPECT_EQ(negotiateFormat(accept), format) << accept;
}

// An exposition with every sample's value cut off: an answer whose shape is
// that of a linted one holds the same families and series in the same order.
std::string expositionShape(std::string_view text) {
  std::string shape;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    shape += line.starts_with("#") ? line : line.substr(0, line.rfind(' '));
    shape += end == std::string_view::npos ? "" : "\n";
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return shape;
}

// Stops the server when the test leaves, before the serving thread is joined.
struct StopOnExit {
  MetricsServer& server;
  ~StopOnExit() { server.stop(); }
};

TEST(MetricsServer, TenClientsScrapeWhileItSamples) {
  Collector collector(fake::makeSimulatedPlatform(fake::builtinProfile(), 1, fake::SimulatedClock::real), 0.01, true);
  MetricsServer server(collector);
  ASSERT_EQ(server.bind("127.0.0.1", 0), std::nullopt);
  std::jthread serving([&] { server.run(); });
  StopOnExit stopOnExit{server};
  SamplingWorker worker(collector);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!collector.latest()->lastSampleTime && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(collector.latest()->lastSampleTime);
  // The series do not change from one sample to the next; the golden test
  // lints the same shapes.
  const std::string shapes[] = {expositionShape(collector.scrape(ExpositionFormat::prometheusText)),
                                expositionShape(collector.scrape(ExpositionFormat::openMetrics))};

  std::vector<std::jthread> clients;
  for (int t = 0; t < 10; ++t) {
    clients.emplace_back([&, t] {
      httplib::Client client("127.0.0.1", server.port());
      client.set_connection_timeout(5);
      client.set_read_timeout(10);
      double lastEnergy = 0;
      for (int i = 0; i < 100; ++i) {
        const bool om = (t + i) % 2 == 0;
        const ExpositionFormat format = om ? ExpositionFormat::openMetrics : ExpositionFormat::prometheusText;
        const auto result = client.Get("/metrics", {{"Accept", om ? "application/openmetrics-text" : "*/*"}});
        ASSERT_TRUE(result) << "client " << t << " scrape " << i << ": " << httplib::to_string(result.error());
        ASSERT_EQ(result->status, 200);
        EXPECT_EQ(result->get_header_value("Content-Type"), contentType(format));
        const std::string& body = result->body;
        ASSERT_EQ(expositionShape(body), shapes[om ? 1 : 0]) << body;
        // The counters of one client's answers never go back.
        const std::string series = om ? "calorim_energy_joules_total{domain=\"cpu\"} " : "{domain=\"cpu\"} ";
        const double energy = std::stod(body.substr(body.find(series) + series.size()));
        EXPECT_GE(energy, lastEnergy);
        lastEnergy = energy;
      }
    });
  }
  clients.clear();

  httplib::Client client("127.0.0.1", server.port());
  const auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<a href=\"/metrics\">"), std::string::npos);
  for (const char* path : {"/metrics/", "/favicon.ico", "/../metrics", "/metrics?x=%00"}) {
    const auto other = client.Get(path);
    ASSERT_TRUE(other) << path;
    EXPECT_EQ(other->status, path == std::string("/metrics?x=%00") ? 200 : 404) << path;
  }
  const auto post = client.Post("/metrics", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 404);
}

}  // namespace
}  // namespace calorim::exporter
