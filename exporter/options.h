#pragma once
// The command line of calorim-exporter:
//   calorim-exporter [--listen HOST:PORT] [--interval SECONDS] [--simulate [PROFILE]]
//   calorim-exporter --help | --version

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace calorim::exporter {

struct Options {
  std::string host = "127.0.0.1";
  int port = 9847;                         // 0: any free port
  double interval = 5;                     // seconds between samples
  bool simulate = false;
  std::optional<std::string> profilePath;  // with `simulate`: a machine profile; absent: the built-in laptop

  bool operator==(const Options&) const = default;
};

inline constexpr double kMinInterval = 0.1;
inline constexpr double kMaxInterval = 3600;

enum class InfoRequest { help, version };

// A command line that cannot be used, with one line saying why (without the
// program's name or a line end).
struct UsageError {
  std::string message;

  bool operator==(const UsageError&) const = default;
};

// Reads the arguments after the program name. Pure; never throws except std::bad_alloc.
[[nodiscard]] std::variant<Options, InfoRequest, UsageError> parseOptions(const std::vector<std::string>& args);

// The text `--help` prints.
[[nodiscard]] std::string usageText();

}  // namespace calorim::exporter
