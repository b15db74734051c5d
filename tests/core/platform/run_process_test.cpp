#include "core/platform/run_process.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace calorim {
namespace {

using namespace std::chrono_literals;

struct ProcessCase {
  const char* what;
  std::string program;
  std::vector<std::string> arguments;
  ProcessLimits limits;
  std::optional<std::string> output;
};

TEST(RunProcessTest, CollectsStandardOutputOrGivesNothing) {
  const ProcessLimits quick{300ms, 1U << 20};
  const ProcessCase cases[] = {
      {"arguments pass unchanged, no shell", "/bin/echo", {"a  b", "$HOME", "*"}, {}, "a  b $HOME *\n"},
      {"output is read to the end", "/bin/sh", {"-c", "head -c 200000 /dev/zero | tr '\\0' x"}, {},
       std::string(200000, 'x')},
      {"a chatty standard error cannot block", "/bin/sh", {"-c", "head -c 1000000 /dev/zero >&2; echo done"}, {},
       "done\n"},
      {"standard input is empty, not the caller's", "/bin/sh", {"-c", "cat; echo end"}, {}, "end\n"},
      {"the exit status is not examined", "/bin/sh", {"-c", "echo out; exit 3"}, {}, "out\n"},
      {"a missing program", "/nonexistent/calorim-test-program", {}, {}, std::nullopt},
      {"a child hanging past the limit", "/bin/sh", {"-c", "echo partial; sleep 30"}, quick, std::nullopt},
      {"a child closing its output and lingering", "/bin/sh", {"-c", "exec >&-; sleep 30"}, quick, std::nullopt},
      {"a grandchild holding the pipe", "/bin/sh", {"-c", "sleep 30 & echo started"}, quick, std::nullopt},
      {"more output than allowed", "/bin/sh", {"-c", "head -c 5000 /dev/zero"}, {10s, 4096}, std::nullopt},
  };
  for (const ProcessCase& c : cases) {
    EXPECT_EQ(runProcess(c.program, c.arguments, c.limits), c.output) << c.what;
  }
}

}  // namespace
}  // namespace calorim
