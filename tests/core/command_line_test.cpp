// The command-line convention shared by every program: one table of command
// lines against one set of options, each with what it reads as.

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "core/base/command_line.h"

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

TEST(CommandLine, OneConventionForEveryProgram) {
  const std::vector<std::pair<std::vector<std::string>, Result>> cases = {
      {{}, with({})},
      {{"--listen", ":9847"}, with({{"--listen", ":9847"}})},
      {{"--listen=:9847"}, with({{"--listen", ":9847"}})},
      // A required value is the next argument whatever it looks like.
      {{"--listen", "-5"}, with({{"--listen", "-5"}})},
      {{"--listen=a=b"}, with({{"--listen", "a=b"}})},
      {{"--simulate"}, with({{"--simulate", std::nullopt}})},
      {{"--simulate", "p.json"}, with({{"--simulate", "p.json"}})},
      {{"--simulate=p.json"}, with({{"--simulate", "p.json"}})},
      {{"--simulate", "--quiet"}, with({{"--simulate", std::nullopt}, {"--quiet", std::nullopt}})},
      {{"--simulate", "a", "b"}, UsageError{"unexpected argument 'b'"}},
      {{"--quiet", "--quiet"}, with({{"--quiet", std::nullopt}, {"--quiet", std::nullopt}})},
      {{"--help"}, InfoRequest::help},
      {{"-h"}, InfoRequest::help},
      {{"--version", "--help"}, InfoRequest::version},
      {{"--quiet", "--help", "--bogus"}, InfoRequest::help},
      {{"--bogus", "--help"}, UsageError{"unknown option '--bogus'"}},
      {{"--help=yes"}, UsageError{"unknown option '--help'"}},
      {{"-x"}, UsageError{"unknown option '-x'"}},
      {{"--lis", "x"}, UsageError{"unknown option '--lis'"}},
      {{"--listen"}, UsageError{"--listen needs HOST:PORT"}},
      {{"--listen="}, UsageError{"--listen needs HOST:PORT"}},
      {{"--quiet=1"}, UsageError{"--quiet takes no value"}},
      {{"stray"}, UsageError{"unexpected argument 'stray'"}},
      {{"--", "--help"}, UsageError{"unexpected argument '--help'"}},
  };
  for (const auto& [args, expected] : cases) {
    EXPECT_EQ(parse(args, kOptions), expected) << ::testing::PrintToString(args);
  }
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
