#include "run/options.h"

#include "core/base/decimal.h"

namespace calorim::run {
namespace {

constexpr cli::OptionSpec kOptions[] = {
    {"--json", cli::Value::none, ""},
    {"--output", cli::Value::required, "FILE"},
    {"--interval", cli::Value::required, "SECONDS"},
    {"--simulate", cli::Value::optional, "PROFILE"},
};

}  // namespace

std::variant<Options, InfoRequest, UsageError> parseOptions(const std::vector<std::string>& args) {
  auto parsed = cli::parse(args, kOptions, {kMaxCommandWords, "COMMAND", true});
  if (auto* info = std::get_if<InfoRequest>(&parsed)) return *info;
  if (auto* error = std::get_if<UsageError>(&parsed)) return std::move(*error);
  auto& arguments = std::get<cli::Arguments>(parsed);
  Options options;
  for (const cli::ParsedOption& option : arguments.options) {
    const std::string value = option.value.value_or("");
    if (option.name == "--json") {
      options.json = true;
    } else if (option.name == "--output") {
      if (value.empty()) return UsageError{"--output needs FILE"};
      options.outputPath = value;
    } else if (option.name == "--interval") {
      const std::optional<double> seconds = parseDecimal(value);
      if (!seconds || *seconds < kMinInterval || *seconds > kMaxInterval) {
        return UsageError{"bad --interval '" + value + "': expected seconds from 0.1 to 60"};
      }
      options.interval = *seconds;
    } else if (option.name == "--simulate") {
      options.simulate = true;
      options.profilePath = option.value;
    }
  }
  if (arguments.positional.empty()) return UsageError{"no COMMAND to run"};
  if (arguments.positional.front().empty()) return UsageError{"the COMMAND's name is empty"};
  options.command = std::move(arguments.positional);
  return options;
}

std::string usageText() {
  return "usage: calorim-run [--json] [--output FILE] [--interval SECONDS] [--simulate [PROFILE]]\n"
         "                   [--] COMMAND [ARGUMENT...]\n"
         "       calorim-run --help | --version\n"
         "\n"
         "Runs COMMAND (no shell; standard input, output and error are its own) and then reports\n"
         "on standard error, like time, the energy the machine used meanwhile: joules of each\n"
         "domain the machine measures and of the whole, mean and peak watts, and an estimate of\n"
         "the command's share of the CPU's energy by its CPU time.\n"
         "\n"
         "  --json               the report as one JSON object\n"
         "  --output FILE        write the report to FILE (replaced whole) instead of standard error\n"
         "  --interval SECONDS   time between readings of the energy counters, 0.1 to 60 (default 1)\n"
         "  --simulate [PROFILE] measure a simulated machine: the profile's, or the built-in laptop\n"
         "                       (put -- before COMMAND when no profile is named)\n"
         "  --help               this text\n"
         "  --version            the version\n"
         "\n"
         "The first word of COMMAND ends the options; -- before it is needed only when it\n"
         "begins with a dash. An option's value may also follow an equals sign: --interval=2.\n"
         "\n"
         "Exit status: the command's own; 128+N when signal N ended it; 127 when it was not\n"
         "found, 126 when it could not be run; 125 when calorim-run could not start (an\n"
         "unreadable profile, an --output FILE that cannot be created); 2 for a usage mistake.\n"
         "SIGINT, SIGTERM and SIGHUP sent to calorim-run are passed on to the command.\n";
}

}  // namespace calorim::run
