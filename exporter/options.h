#pragma once
// The command line of calorim-exporter, read by the convention of
// core/base/command_line.h:
//   calorim-exporter [--listen [HOST]:PORT] [--interval SECONDS] [--cgroup-depth N]
//                    [--top-processes N] [--simulate [PROFILE]]
//   calorim-exporter --help | --version

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/base/command_line.h"

namespace calorim::exporter {

struct Options {
  std::string host = "127.0.0.1";         // "0.0.0.0" for `--listen :PORT`: every IPv4 address
  int port = 9847;                         // 0: any free port
  double interval = 5;                     // seconds between samples
  bool simulate = false;
  std::optional<std::string> profilePath;  // with `simulate`: a machine profile; absent: the built-in laptop
  int cgroupDepth = 2;                     // levels of control groups exported; 0: none
  int topProcesses = 0;                    // processes whose power is exported; 0: none

  bool operator==(const Options&) const = default;
};

inline constexpr double kMinInterval = 0.1;
inline constexpr double kMaxInterval = 3600;
inline constexpr int kMaxCgroupDepth = 16;
inline constexpr int kMaxTopProcesses = 100;

inline constexpr std::string_view kProgram = "calorim-exporter";

using cli::InfoRequest;
using cli::UsageError;

// Reads the arguments after the program name. Pure; never throws except std::bad_alloc.
[[nodiscard]] std::variant<Options, InfoRequest, UsageError> parseOptions(const std::vector<std::string>& args);

// The text `--help` prints.
[[nodiscard]] std::string usageText();

}  // namespace calorim::exporter
