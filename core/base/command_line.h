#pragma once
// The command-line convention every Calorim program follows:
//   - `--help` (or `-h`) and `--version` print to standard output and exit 0,
//     before anything else happens (no hardware is touched);
//   - a value goes after `=` or in the next argument: `--interval=2` and
//     `--interval 2` are the same (a required value is the next argument
//     whatever it begins with, as with getopt); a value that may be left out (`--simulate
//     [PROFILE]`) is taken from the next argument only when that does not
//     begin with `-`;
//   - `--` ends the options: every later argument is positional (a program
//     that runs a command may also end them at its first positional one);
//   - a mistake is one line on standard error, "<program>: <what is wrong>
//     (see <program> --help)", and exit status 2.
// The last of a repeated option counts.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace calorim::cli {

enum class Value { none, required, optional };

struct OptionSpec {
  std::string_view name;       // with its dashes: "--listen"
  Value value = Value::none;
  std::string_view valueName;  // for messages: "HOST:PORT"
};

struct PositionalSpec {
  std::size_t max = 0;         // at most this many positional arguments
  std::string_view name;       // for messages: "PROFILE"
  // The first positional argument ends the options, as if `--` came before
  // it: a command and its own arguments (`make -j8`) are taken as they are.
  bool firstEndsOptions = false;
};

struct ParsedOption {
  std::string name;                  // as in its spec: "--listen"
  std::optional<std::string> value;  // absent for flags and left-out optional values

  bool operator==(const ParsedOption&) const = default;
};

struct Arguments {
  std::vector<ParsedOption> options;  // in command-line order, repeats included
  std::vector<std::string> positional;

  // The last occurrence of `name`; null when it was not given.
  [[nodiscard]] const ParsedOption* last(std::string_view name) const;

  bool operator==(const Arguments&) const = default;
};

enum class InfoRequest { help, version };

// A command line that cannot be used, with one line saying why (without the
// program's name, the pointer to --help or a line end).
struct UsageError {
  std::string message;

  bool operator==(const UsageError&) const = default;
};

// Reads the arguments after the program name against `options`. The first
// `--help`/`-h`/`--version` wins unless a mistake comes before it. Pure;
// never throws except std::bad_alloc.
[[nodiscard]] std::variant<Arguments, InfoRequest, UsageError> parse(const std::vector<std::string>& args,
                                                                     std::span<const OptionSpec> options,
                                                                     PositionalSpec positional = {});

// The line a mistake prints (with its line end).
[[nodiscard]] std::string usageErrorLine(std::string_view program, const UsageError& error);

// The status a program exits with for a usage mistake.
inline constexpr int kUsageExitStatus = 2;

// Writes what `request` asks for (the help text, or "<program> <version>")
// to standard output; returns 0, the status to exit with.
int printInfo(InfoRequest request, std::string_view program, std::string_view helpText, std::string_view version);

// Writes `usageErrorLine` to standard error; returns kUsageExitStatus.
int printUsageError(std::string_view program, const UsageError& error);

}  // namespace calorim::cli
