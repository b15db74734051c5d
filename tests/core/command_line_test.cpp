// The command-line convention shared by every program: one table of command
// lines against one set of options, each with what it reads as (in the
// golden file).

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "core/base/command_line.h"
#include "core/json.h"
#include "tests/core/line_cases.h"

namespace calorim::cli {
namespace {

constexpr OptionSpec kOptions[] = {
    {"--listen", Value::required, "HOST:PORT"},
    {"--simulate", Value::optional, "PROFILE"},
    {"--quiet", Value::none, ""},
};

using Result = std::variant<Arguments, InfoRequest, UsageError>;

Arguments with(std::vector<ParsedOption> options, std::vector<std::string> positional = {}) {
  return {std::move(options), std::move(positional)};
}

// What a command line reads as, in a line: the options (a value quoted), the
// positional arguments, the information asked for, or the mistake.
std::string readAs(const Result& result) {
  if (const auto* info = std::get_if<InfoRequest>(&result)) return *info == InfoRequest::help ? "help" : "version";
  if (const auto* error = std::get_if<UsageError>(&result)) return "mistake: " + error->message;
  std::string line = "options:";
  for (const ParsedOption& option : std::get<Arguments>(result).options) {
    line += " " + option.name + (option.value ? "=\"" + *option.value + "\"" : "");
  }
  for (const std::string& argument : std::get<Arguments>(result).positional) line += " \"" + argument + "\"";
  return line;
}

TEST(CommandLine, OneConventionForEveryProgram) {
  EXPECT_LINE_CASES(GOLDEN_DIR "/command_line_cases.txt", [](const std::string& line) {
    return readAs(parse(Json::parse(line).get<std::vector<std::string>>(), kOptions));
  });
  EXPECT_EQ(std::get<Arguments>(parse({"--listen", "a:1", "--listen=b:2"}, kOptions)).last("--listen")->value, "b:2");
}

TEST(CommandLine, PositionalArgumentsUpToTheirBound) {
  const PositionalSpec profile{1, "PROFILE"};
  EXPECT_EQ(parse({"p.json"}, {}, profile), Result(with({}, {"p.json"})));
  EXPECT_EQ(parse({"--", "-odd.json"}, {}, profile), Result(with({}, {"-odd.json"})));
  EXPECT_EQ(parse({"-"}, {}, profile), Result(with({}, {"-"})));
  EXPECT_EQ(parse({"a", "b"}, {}, profile), Result(UsageError{"unexpected argument 'b' after PROFILE"}));
  EXPECT_EQ(usageErrorLine("calorim-probe-sim", UsageError{"unexpected argument 'b' after PROFILE"}),
            "calorim-probe-sim: unexpected argument 'b' after PROFILE (see calorim-probe-sim --help)\n");

  // A command to run: its first word ends the options, its own arguments and
  // a later `--` are its, and options before it are still read.
  const PositionalSpec command{100, "COMMAND", true};
  const std::vector<std::pair<std::vector<std::string>, Result>> commandLines = {
      {{"make", "-j8", "--quiet"}, with({}, {"make", "-j8", "--quiet"})},
      {{"--quiet", "ls", "--", "-l"}, with({{"--quiet", std::nullopt}}, {"ls", "--", "-l"})},
      {{"--", "--help"}, with({}, {"--help"})},
      {{"--", "ls", "--help"}, with({}, {"ls", "--help"})},
      {{"--simulate", "--", "ls"}, with({{"--simulate", std::nullopt}}, {"ls"})},
      {{"ls", "--help"}, with({}, {"ls", "--help"})},
      {{"--help", "ls"}, InfoRequest::help},
      {{"--bogus", "ls"}, UsageError{"unknown option '--bogus'"}},
  };
  for (const auto& [args, expected] : commandLines) {
    EXPECT_EQ(parse(args, kOptions, command), expected) << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace calorim::cli
