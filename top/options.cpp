#include "top/options.h"

#include <charconv>

#include "core/base/decimal.h"

namespace calorim::top {
namespace {

constexpr cli::OptionSpec kOptions[] = {
    {"--interval", cli::Value::required, "SECONDS"},
    {"--simulate", cli::Value::optional, "PROFILE"},
    {"--json", cli::Value::none, {}},
    {"--count", cli::Value::required, "N"},
    {"--diagnose", cli::Value::none, {}},
};

}  // namespace

std::variant<Options, cli::InfoRequest, cli::UsageError> parseOptions(const std::vector<std::string>& args) {
  auto parsed = cli::parse(args, kOptions);
  if (auto* info = std::get_if<cli::InfoRequest>(&parsed)) return *info;
  if (auto* error = std::get_if<cli::UsageError>(&parsed)) return std::move(*error);
  Options options;
  for (const cli::ParsedOption& option : std::get<cli::Arguments>(parsed).options) {
    const std::string value = option.value.value_or("");
    if (option.name == "--interval") {
      const std::optional<double> seconds = parseDecimal(value);
      if (!seconds || *seconds < kMinInterval || *seconds > kMaxInterval) {
        return cli::UsageError{"bad --interval '" + value + "': expected seconds from 0.25 to 10"};
      }
      options.interval = *seconds;
    } else if (option.name == "--simulate") {
      options.simulate = true;
      options.profilePath = option.value;
    } else if (option.name == "--json") {
      options.json = true;
    } else if (option.name == "--diagnose") {
      options.diagnose = true;
    } else if (option.name == "--count") {
      std::int64_t count = 0;
      const auto result = std::from_chars(value.data(), value.data() + value.size(), count);
      if (result.ec != std::errc() || result.ptr != value.data() + value.size() || count < 1 || count > kMaxCount) {
        return cli::UsageError{"bad --count '" + value + "': expected a whole number of samples from 1 to " +
                               std::to_string(kMaxCount)};
      }
      options.count = count;
    }
  }
  return options;
}

std::string usageText() {
  return "usage: calorim-top [--interval SECONDS] [--simulate [PROFILE]] [--json] [--count N]\n"
         "       calorim-top [--simulate [PROFILE]] --diagnose\n"
         "       calorim-top --help | --version\n"
         "\n"
         "A live view of this machine's power, usage, temperatures and the processes using the\n"
         "most power, in the terminal; with --json a stream of samples for scripts.\n"
         "\n"
         "  --interval SECONDS   time between samples, 0.25 to 10 (default 1)\n"
         "  --simulate [PROFILE] show a simulated machine: the profile's, or the built-in laptop\n"
         "  --json               write each sample as one line of JSON instead of the screen\n"
         "  --count N            stop after N samples\n"
         "  --diagnose           print what the machine offers and whether each source can be read,\n"
         "                       as JSON for a bug report (no serial numbers or user names), and end\n"
         "  --help               this text\n"
         "  --version            the version\n"
         "\n"
         "Keys: q or Esc quit, space pause, + and - change the interval, f degrees Celsius or\n"
         "Fahrenheit, p processes on or off, h or ? help.\n"
         "\n"
         "An option's value may also follow an equals sign: --interval=2.\n";
}

}  // namespace calorim::top
