#include "exporter/exporter_main.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>
#include <variant>

#include "core/platform/simulated/simulated_machine.h"
#include "core/platform/native/native_platform.h"
#include "exporter/collector.h"
#include "exporter/options.h"
#include "exporter/server.h"

namespace calorim::exporter {
namespace {

int fail(const std::string& message) {
  std::cerr << kProgram << ": " << message << "\n";
  return 1;
}

std::string addressText(const std::string& host, int port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

int exporterMain(int argc, char** argv) {
  const auto parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto* error = std::get_if<UsageError>(&parsed)) return cli::printUsageError(kProgram, *error);
  if (const auto* info = std::get_if<InfoRequest>(&parsed)) {
    return cli::printInfo(*info, kProgram, usageText(), CALORIM_VERSION);
  }
  const Options& options = std::get<Options>(parsed);

  std::shared_ptr<Platform> platform;
  if (options.simulate) {
    auto opened = fake::openSimulatedPlatform(options.profilePath);
    if (const auto* failure = std::get_if<fake::ProfileFailure>(&opened)) {
      return fail(fake::profileFailureText(*failure, options.profilePath));
    }
    platform = std::get<std::shared_ptr<Platform>>(opened);
  } else {
    platform = makeNativePlatform();
  }

  // Every thread started from here on inherits the blocked signals; one
  // thread of our own takes them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  Collector collector(platform, options.interval, options.simulate,
                      ProcessExport{options.cgroupDepth, options.topProcesses});
  MetricsServer server(collector);
  if (const auto error = server.bind(options.host, options.port)) {
    return fail("cannot listen on " + addressText(options.host, options.port) + ": " + *error);
  }
  if (!collector.measuresEnergy()) {
    std::cerr << kProgram << ": power is not measured (" << collector.energyProblem()
              << "); serving everything else and looking for the energy counters again every interval\n";
  }
  std::cout << kProgram << ": serving http://" << addressText(options.host, server.port()) << "/metrics"
            << std::endl;

  std::atomic<bool> signalled = false;
  std::thread signalThread([&] {
    int received = 0;
    sigwait(&signals, &received);
    signalled = true;
    server.stop();
  });
  {
    SamplingWorker worker(collector);
    server.run();
  }
  if (!signalled) ::kill(::getpid(), SIGTERM);  // ends the signal thread's wait
  signalThread.join();
  return 0;
}

}  // namespace calorim::exporter
