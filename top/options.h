#pragma once
// The command line of calorim-top, read by the convention of
// core/base/command_line.h:
//   calorim-top [--interval SECONDS] [--simulate [PROFILE]] [--json] [--count N] [--diagnose]
//   calorim-top --help | --version

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/base/command_line.h"

namespace calorim::top {

// Seconds between two samples: the bounds of `--interval` and of the `+`/`-` keys.
inline constexpr double kMinInterval = 0.25;
inline constexpr double kMaxInterval = 10;
// The most samples `--count` may ask for.
inline constexpr std::int64_t kMaxCount = 1'000'000'000;

struct Options {
  double interval = 1;                     // seconds between samples
  bool simulate = false;
  std::optional<std::string> profilePath;  // with `simulate`: a machine profile; absent: the built-in laptop
  bool json = false;                       // JSON lines on standard output instead of the screen
  std::optional<std::int64_t> count;       // stop after this many samples; absent: until quit
  bool diagnose = false;                   // print what the platform sees, as JSON, and end

  bool operator==(const Options&) const = default;
};

inline constexpr std::string_view kProgram = "calorim-top";

// Reads the arguments after the program name. Pure; never throws except std::bad_alloc.
[[nodiscard]] std::variant<Options, cli::InfoRequest, cli::UsageError> parseOptions(
    const std::vector<std::string>& args);

// The text `--help` prints.
[[nodiscard]] std::string usageText();

}  // namespace calorim::top
