#pragma once
// The exporter's HTTP side: GET /metrics answers the latest state of a
// `Collector` in the format the request's Accept header asks for, GET / a short
// page linking to it, anything else 404. Each connection serves one request
// and is closed, so no worker waits on an idle client; reads and writes that
// stall give up after half a second.

#include <memory>
#include <optional>
#include <string>

#include "exporter/collector.h"

namespace calorim::exporter {

class MetricsServer {
 public:
  // Up to `threads` requests are answered at once (at least 1).
  explicit MetricsServer(const Collector& collector, std::size_t threads = 4);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Binds to `host` (a name or an address; IPv6 without brackets) and `port`
  // (0: any free port). On failure returns the reason ("Address already in
  // use", a resolver message, ...); nothing on success.
  [[nodiscard]] std::optional<std::string> bind(const std::string& host, int port);
  // The bound port; 0 before a successful `bind`.
  [[nodiscard]] int port() const;
  // Serves until `stop`; blocks. Returns at once when `stop` came first.
  void run();
  // Ends `run`, waiting for the requests in progress. Any thread; not from a
  // signal handler.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace calorim::exporter
