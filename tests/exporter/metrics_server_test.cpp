// The HTTP side in process, over the simulated laptop sampled every 10 ms:
// many clients scraping while the worker publishes, and the other routes.

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/platform/simulated/simulated_machine.h"
#include "exporter/collector.h"
#include "exporter/server.h"

namespace calorim::exporter {
namespace {

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
