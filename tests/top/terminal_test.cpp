// calorim-top as a person and a script meet it: the real program in tmux,
// driven with send-keys and read with capture-pane, its screens compared with
// golden files; and its JSON lines through pipes. The simulated laptop runs on
// its paced clock, so the first sample shows the same figures on every run.

#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "core/json.h"
#include "tests/support/golden.h"

namespace calorim::top {
namespace {

using namespace std::chrono_literals;

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// What `command`, run by bash, writes to standard output.
std::string output(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(("bash -c " + quoted(command)).c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  ::pclose(pipe);
  return text;
}

// A tmux server of the test's own with one window running calorim-top. Each
// has a socket of its own: a server told to end may still hold its socket
// when the next test starts one.
class Tmux {
 public:
  Tmux(int width, int height, const std::string& arguments)
      : tmux_(std::string(TMUX_BINARY) + " -u -f /dev/null -L calorim-top-test-" + std::to_string(::getpid()) + "-" +
              std::to_string(++servers_)) {
    const std::string program = "LC_ALL=C.UTF-8 " + std::string(TOP_BINARY) + " " + arguments +
                                "; echo \"calorim-top ended: $?\"; sleep 60";
    std::system((tmux_ + " new-session -d -s top -x " + std::to_string(width) + " -y " + std::to_string(height) +
                 " " + quoted(program))
                    .c_str());
  }
  ~Tmux() { std::system((tmux_ + " kill-server 2>/dev/null").c_str()); }

  [[nodiscard]] std::string screen() const { return output(tmux_ + " capture-pane -p -t top"); }
  void keys(const std::string& keys) const { std::system((tmux_ + " send-keys -t top " + keys).c_str()); }
  void resize(int width, int height) const {
    std::system((tmux_ + " resize-window -t top -x " + std::to_string(width) + " -y " + std::to_string(height)).c_str());
  }
  // Whether the screen shows `what` within `limit`.
  [[nodiscard]] bool shows(const std::string& what, std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
      if (screen().find(what) != std::string::npos) return true;
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }

 private:
  static inline int servers_ = 0;
  std::string tmux_;
};

std::filesystem::path golden(const std::string& name) { return std::filesystem::path(GOLDEN_DIR) / name; }

class TopInTmux : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TMUX_BINARY).empty() || std::string(TMUX_BINARY).ends_with("NOTFOUND")) {
      GTEST_SKIP() << "tmux is missing: scripts/setup.sh installs it";
    }
  }
};

TEST_F(TopInTmux, SimulatedLaptopAtEachSizeAndKey) {
  // A long interval: the first sample stays on screen while it is read.
  Tmux tmux(100, 30, "--simulate --interval 5");
  ASSERT_TRUE(tmux.shows(" Total ", 30s)) << tmux.screen();
  tmux.keys("Space");
  ASSERT_TRUE(tmux.shows("PAUSED", 2s)) << tmux.screen();
  EXPECT_GOLDEN(golden("top_100x30.txt"), tmux.screen());

  tmux.resize(80, 24);
  ASSERT_TRUE(tmux.shows("processes  h help\n", 2s)) << tmux.screen();
  EXPECT_GOLDEN(golden("top_80x24.txt"), tmux.screen());

  tmux.keys("f p");
  ASSERT_TRUE(tmux.shows("Processes hidden", 2s)) << tmux.screen();
  EXPECT_GOLDEN(golden("top_80x24_fahrenheit_no_processes.txt"), tmux.screen());

  tmux.keys("h");
  ASSERT_TRUE(tmux.shows("this help", 2s)) << tmux.screen();
  EXPECT_GOLDEN(golden("top_80x24_help.txt"), tmux.screen());

  // Smaller than it is made for: it goes on, every line within the width.
  tmux.keys("h");
  tmux.resize(60, 20);
  ASSERT_TRUE(tmux.shows("Usage", 2s)) << tmux.screen();
  std::istringstream lines(tmux.screen());
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; }), 60) << line;
  }
  EXPECT_EQ(tmux.screen().find("calorim-top ended"), std::string::npos);

  tmux.keys("q");
  EXPECT_TRUE(tmux.shows("calorim-top ended: 0", 1s)) << tmux.screen();
}

TEST_F(TopInTmux, EscQuitsAtOnce) {
  Tmux tmux(80, 24, "--simulate --interval 0.25");
  ASSERT_TRUE(tmux.shows(" Total ", 30s)) << tmux.screen();
  tmux.keys("Escape");
  EXPECT_TRUE(tmux.shows("calorim-top ended: 0", 1s)) << tmux.screen();
}

TEST(TopJson, LinesCarryTheSnapshotRecordAndTheProcesses) {
  const std::string text = output(std::string(TOP_BINARY) + " --simulate --json --count 3 --interval 0.25");
  std::istringstream lines(text);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const Json record = parseJson(line);
    EXPECT_NO_THROW((void)record.get<PowerSnapshot>()) << line;
    EXPECT_EQ(record["duration"], 0.25);
    EXPECT_EQ(record["simulated"], true);
    EXPECT_EQ(record["measured"][0], "cpuPower") << line;
    EXPECT_EQ(record["processes"]["method"], "cpuTimeShare") << line;
    EXPECT_EQ(record["processes"]["processes"][0]["name"], "Xcode") << line;
  }
  EXPECT_EQ(count, 3) << text;
}

// The report for a bug report needs no terminal and says the machine is simulated.
TEST(TopJson, DiagnosisOfTheSimulatedLaptop) {
  const Json report = parseJson(output(std::string(TOP_BINARY) + " --simulate --diagnose </dev/null | cat"));
  EXPECT_EQ(report["report"], "calorim diagnosis");
  EXPECT_EQ(report["simulated"], true);
  EXPECT_FALSE(report["counters"]["channels"].empty());
}

TEST(TopJson, ReaderThatGoesAwayAndOutputThatIsNoTerminal) {
  // `| head -1`: the program ends when the pipe closes, with status 0.
  EXPECT_EQ(output(std::string(TOP_BINARY) + " --simulate --json --interval 0.25 | head -1 >/dev/null; echo ${PIPESTATUS[0]}"),
            "0\n");
  // The screen asked for on a pipe: one line saying so, status 2.
  EXPECT_EQ(output(std::string(TOP_BINARY) + " --simulate 2>&1 </dev/null | cat; echo \"status ${PIPESTATUS[0]}\""),
            "calorim-top: standard output is not a terminal: --json writes the samples as lines "
            "(see calorim-top --help)\nstatus 2\n");
}

}  // namespace
}  // namespace calorim::top
