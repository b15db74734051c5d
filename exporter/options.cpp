#include "exporter/options.h"

#include <charconv>
#include <cmath>

namespace calorim::exporter {
namespace {

constexpr cli::OptionSpec kOptions[] = {
    {"--listen", cli::Value::required, "[HOST]:PORT"},
    {"--interval", cli::Value::required, "SECONDS"},
    {"--cgroup-depth", cli::Value::required, "N"},
    {"--top-processes", cli::Value::required, "N"},
    {"--simulate", cli::Value::optional, "PROFILE"},
};

// "HOST:PORT", the host possibly an IPv6 address in brackets; ":PORT" is
// every IPv4 address.
std::optional<std::pair<std::string, int>> parseListen(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (host.empty()) {
    host = "0.0.0.0";
  } else if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return std::nullopt;  // an IPv6 address needs its brackets
  }
  if (host.empty() || port.empty() || port.size() > 5) return std::nullopt;
  if (host.find_first_of(" \t\n[]/") != std::string::npos) return std::nullopt;
  int number = 0;
  const auto result = std::from_chars(port.data(), port.data() + port.size(), number);
  if (result.ec != std::errc() || result.ptr != port.data() + port.size() || number < 0 || number > 65535) {
    return std::nullopt;
  }
  return std::make_pair(host, number);
}

std::optional<double> parseInterval(const std::string& text) {
  double seconds = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(seconds)) {
    return std::nullopt;
  }
  if (seconds < kMinInterval || seconds > kMaxInterval) return std::nullopt;
  return seconds;
}

// A whole decimal number from 0 to `max`.
std::optional<int> parseCount(const std::string& text, int max) {
  int value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < 0 || value > max) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::variant<Options, InfoRequest, UsageError> parseOptions(const std::vector<std::string>& args) {
  auto parsed = cli::parse(args, kOptions);
  if (auto* info = std::get_if<InfoRequest>(&parsed)) return *info;
  if (auto* error = std::get_if<UsageError>(&parsed)) return std::move(*error);
  Options options;
  for (const cli::ParsedOption& option : std::get<cli::Arguments>(parsed).options) {
    const std::string value = option.value.value_or("");
    if (option.name == "--listen") {
      const auto listen = parseListen(value);
      if (!listen) {
        return UsageError{"bad --listen '" + value +
                          "': expected [HOST]:PORT with a port from 0 to 65535 (IPv6 in brackets: [::1]:9847)"};
      }
      options.host = listen->first;
      options.port = listen->second;
    } else if (option.name == "--interval") {
      const auto interval = parseInterval(value);
      if (!interval) return UsageError{"bad --interval '" + value + "': expected seconds from 0.1 to 3600"};
      options.interval = *interval;
    } else if (option.name == "--cgroup-depth") {
      const auto depth = parseCount(value, kMaxCgroupDepth);
      if (!depth) {
        return UsageError{"bad --cgroup-depth '" + value + "': expected levels from 0 to " +
                          std::to_string(kMaxCgroupDepth)};
      }
      options.cgroupDepth = *depth;
    } else if (option.name == "--top-processes") {
      const auto count = parseCount(value, kMaxTopProcesses);
      if (!count) {
        return UsageError{"bad --top-processes '" + value + "': expected a count from 0 to " +
                          std::to_string(kMaxTopProcesses)};
      }
      options.topProcesses = *count;
    } else if (option.name == "--simulate") {
      options.simulate = true;
      options.profilePath = option.value;
    }
  }
  return options;
}

std::string usageText() {
  return "usage: calorim-exporter [--listen [HOST]:PORT] [--interval SECONDS] [--cgroup-depth N]\n"
         "                        [--top-processes N] [--simulate [PROFILE]]\n"
         "       calorim-exporter --help | --version\n"
         "\n"
         "Serves the machine's power, energy, usage and temperatures to Prometheus.\n"
         "\n"
         "  --listen [HOST]:PORT address to serve on (default 127.0.0.1:9847); without a host, every\n"
         "                       IPv4 address; [::]:PORT for IPv6 too; port 0: any free port.\n"
         "                       There is no authentication: see the README before exposing it.\n"
         "  --interval SECONDS   time between samples, 0.1 to 3600 (default 5)\n"
         "  --cgroup-depth N     export the CPU energy of control groups this many levels deep\n"
         "                       (Linux, cgroup v2; default 2, 0: none), estimated from CPU time\n"
         "  --top-processes N    export the power of the N processes using the most, 0 to 100\n"
         "                       (default 0: none). Their names are seen by whoever can scrape.\n"
         "  --simulate [PROFILE] measure a simulated machine: the profile's, or the built-in laptop\n"
         "  --help               this text\n"
         "  --version            the version\n"
         "\n"
         "An option's value may also follow an equals sign: --interval=2.\n"
         "\n"
         "GET /metrics answers in the Prometheus text format 0.0.4, or in OpenMetrics 1.0 when the\n"
         "Accept header asks for application/openmetrics-text.\n";
}

}  // namespace calorim::exporter
