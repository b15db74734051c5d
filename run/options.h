#pragma once
// The command line of calorim-run, read by the convention of
// core/base/command_line.h:
//   calorim-run [--json] [--output FILE] [--interval SECONDS] [--simulate [PROFILE]]
//               [--] COMMAND [ARGUMENT...]
//   calorim-run --help | --version
// The command's first word ends the options, so its own arguments are taken
// as they are; `--` before it is needed only where the command begins with a
// dash or follows `--simulate` without a profile.

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/base/command_line.h"

namespace calorim::run {

struct Options {
  bool json = false;                       // the report as one JSON object
  std::optional<std::string> outputPath;   // the report goes to this file instead of standard error
  double interval = 1;                     // seconds between readings of the energy counters
  bool simulate = false;
  std::optional<std::string> profilePath;  // with `simulate`: a machine profile; absent: the built-in laptop
  std::vector<std::string> command;        // the program and its arguments; never empty

  bool operator==(const Options&) const = default;
};

inline constexpr double kMinInterval = 0.1;
inline constexpr double kMaxInterval = 60;
// Words of the command: far above what any system lets one command have.
inline constexpr std::size_t kMaxCommandWords = 1U << 20;

inline constexpr std::string_view kProgram = "calorim-run";

using cli::InfoRequest;
using cli::UsageError;

// Reads the arguments after the program name. Pure; never throws except std::bad_alloc.
[[nodiscard]] std::variant<Options, InfoRequest, UsageError> parseOptions(const std::vector<std::string>& args);

// The text `--help` prints.
[[nodiscard]] std::string usageText();

}  // namespace calorim::run
