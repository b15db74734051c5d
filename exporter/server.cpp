#include "exporter/server.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include <httplib.h>

namespace calorim::exporter {
namespace {

constexpr const char* kIndexPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Calorim exporter</title></head>\n"
    "<body><h1>Calorim exporter</h1><p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

}  // namespace

struct MetricsServer::Impl {
  httplib::Server server;
  int port = 0;
  std::mutex mutex;  // guards the three flags
  bool stopRequested = false;
  bool started = false;
  bool finished = false;
};

MetricsServer::MetricsServer(const Collector& collector, std::size_t threads) : impl_(std::make_unique<Impl>()) {
  httplib::Server& s = impl_->server;
  threads = std::max<std::size_t>(threads, 1);
  s.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  // The library's default also sets SO_REUSEPORT, which would let a second
  // exporter bind the same port and take half of the scrapes.
  s.set_socket_options([](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  s.set_keep_alive_max_count(1);
  s.set_read_timeout(0, 500'000);
  s.set_write_timeout(0, 500'000);
  s.set_payload_max_length(64 * 1024);
  s.Get("/metrics", [&collector](const httplib::Request& request, httplib::Response& response) {
    const ExpositionFormat format = negotiateFormat(request.get_header_value("Accept"));
    response.set_content(collector.scrape(format), std::string(contentType(format)).c_str());
  });
  s.Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kIndexPage, "text/html; charset=utf-8");
  });
  s.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.status == 404) response.set_content("404 Not Found: the metrics are at /metrics\n", "text/plain");
  });
}

MetricsServer::~MetricsServer() = default;

std::optional<std::string> MetricsServer::bind(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); error != 0) {
    return std::string(::gai_strerror(error));
  }
  ::freeaddrinfo(found);
  errno = 0;
  if (port == 0) {
    const int bound = impl_->server.bind_to_any_port(host);
    if (bound > 0) {
      impl_->port = bound;
      return std::nullopt;
    }
  } else if (impl_->server.bind_to_port(host, port)) {
    impl_->port = port;
    return std::nullopt;
  }
  return errno != 0 ? std::string(std::strerror(errno)) : std::string("the address cannot be bound");
}

int MetricsServer::port() const { return impl_->port; }

void MetricsServer::run() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopRequested) return;
    impl_->started = true;
  }
  impl_->server.listen_after_bind();
  std::lock_guard lock(impl_->mutex);
  impl_->finished = true;
}

void MetricsServer::stop() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopRequested) return;
    impl_->stopRequested = true;
    if (!impl_->started) return;
  }
  // `run` has begun; the server stops only once it is listening, so wait for
  // that (or for `run` to have ended on its own) and stop it once.
  while (true) {
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->finished) return;
    }
    if (impl_->server.is_running()) {
      impl_->server.stop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace calorim::exporter
