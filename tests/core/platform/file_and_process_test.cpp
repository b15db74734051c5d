// The platform's input helpers: kernel attribute files and child processes.

#include "core/platform/linux/sysfs_file.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform/run_process.h"
#include "linux_machine_tree.h"
#include "tests/core/line_cases.h"

namespace calorim::sysfs {
namespace {

namespace fs = std::filesystem;

// Rewrites a file in place (same inode), as the kernel updates an attribute.
void write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(SysfsFileParse, NumbersAndTrimming) {
  const auto shown = [](const auto& number) { return number ? std::to_string(*number) : std::string("none"); };
  EXPECT_LINE_CASES(GOLDEN_DIR "/number_attribute_cases.txt", [&](const std::string& text) {
    return "unsigned " + shown(parseUnsigned(text)) + ", signed " + shown(parseSigned(text));
  });
  for (const char* blank : {"", " \n"}) EXPECT_FALSE(parseUnsigned(blank) || parseSigned(blank)) << blank;
  EXPECT_EQ(parseUnsigned("240422366267\n"), 240422366267u);
  EXPECT_EQ(parseSigned("-45000\n"), -45000);
  EXPECT_EQ(trim(std::string_view("Raspberry Pi 4 Model B Rev 1.4\0", 31)), "Raspberry Pi 4 Model B Rev 1.4");
  EXPECT_EQ(trim(" \t\n"), "");
  EXPECT_EQ(trim(" a b\n"), "a b");
}

TEST(SysfsFileRead, AttributeIsOnePageTrimmedAndTableReadsWholeLines) {
  testing::MachineTree dir;
  write(dir.root() / "energy_uj", "98213374112\n");
  EXPECT_EQ(readAttribute(dir.root() / "energy_uj"), "98213374112");
  EXPECT_FALSE(readAttribute(dir.root() / "missing").has_value());
  fs::create_directory(dir.root() / "folder");
  EXPECT_FALSE(readAttribute(dir.root() / "folder").has_value());

  // An attribute never holds more than a page; one read takes at most that.
  write(dir.root() / "long", std::string(10000, 'x'));
  EXPECT_EQ(readAttribute(dir.root() / "long")->size(), kAttributeMaxBytes);

  // A table is read past the first page, to its end.
  std::string table;
  for (int i = 0; i < 2000; ++i) table += "cpu" + std::to_string(i) + " 1 2 3 4\n";
  write(dir.root() / "stat", table);
  EXPECT_EQ(readTable(dir.root() / "stat"), table);
  // Cut at the limit, a table keeps only its whole lines; a file of exactly the limit is whole.
  write(dir.root() / "two", "cpu0 1 2 3 4\ncpu1 1 2 3 4\n");
  EXPECT_EQ(readTable(dir.root() / "two", 26), "cpu0 1 2 3 4\ncpu1 1 2 3 4\n");
  EXPECT_EQ(readTable(dir.root() / "two", 25), "cpu0 1 2 3 4\n");
  EXPECT_EQ(readTable(dir.root() / "two", 5), "");
  EXPECT_FALSE(readTable(dir.root() / "missing").has_value());
  EXPECT_FALSE(readTable(dir.root() / "folder").has_value());
}

TEST(SysfsKeptFile, RereadsInPlaceReopensWhenStaleAndClosesItsDescriptor) {
  testing::MachineTree dir;
  const fs::path counter = dir.root() / "energy_uj";
  const auto before = testing::openDescriptors();
  {
    write(counter, "100\n");
    KeptFile kept(counter);
    EXPECT_TRUE(kept.isOpen());
    EXPECT_EQ(kept.read(), "100");
    write(counter, "200\n");
    EXPECT_EQ(kept.read(), "200");

    // A path that does not exist yet is opened by a later read.
    KeptFile later(dir.root() / "late");
    EXPECT_FALSE(later.isOpen());
    EXPECT_FALSE(later.read().has_value());
    write(dir.root() / "late", "5\n");
    EXPECT_EQ(later.read(), "5");

    // A descriptor whose reads fail (here: a folder) is given up and the path reopened.
    fs::create_directory(dir.root() / "swap");
    KeptFile swapped(dir.root() / "swap");
    EXPECT_FALSE(swapped.read().has_value());
    fs::remove(dir.root() / "swap");
    write(dir.root() / "swap", "300\n");
    EXPECT_EQ(swapped.read(), "300");

    KeptFile moved(std::move(kept));
    EXPECT_FALSE(kept.isOpen());  // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_EQ(moved.read(), "200");
    moved = std::move(later);
    EXPECT_EQ(moved.read(), "5");
  }
  EXPECT_EQ(testing::openDescriptors(), before);
}

using namespace std::chrono_literals;

struct ProcessCase {
  const char* what;
  std::string program;
  std::vector<std::string> arguments;
  ProcessLimits limits;
  std::optional<std::string> output;
};

TEST(RunProcessTest, CollectsStandardOutputOrGivesNothing) {
  const ProcessLimits quick{300ms, 1U << 20, {}};
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
      {"more output than allowed", "/bin/sh", {"-c", "head -c 5000 /dev/zero"}, {10s, 4096, {}}, std::nullopt},
  };
  for (const ProcessCase& c : cases) {
    EXPECT_EQ(runProcess(c.program, c.arguments, c.limits), c.output) << c.what;
  }
}

// Quitting must not wait for a slow reporting tool: a stop request gives the
// program up (and kills its group) long before its time runs out.
TEST(RunProcessTest, AStopRequestGivesTheProgramUp) {
  StopSource stopped;
  stopped.requestStop();
  EXPECT_EQ(runProcess("/bin/echo", {"never"}, {10s, 1U << 20, stopped.token()}), std::nullopt);

  StopSource quitting;
  std::thread quitter([&] {
    std::this_thread::sleep_for(100ms);
    quitting.requestStop();
  });
  const auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(runProcess("/bin/sh", {"-c", "echo partial; sleep 30"}, {20s, 1U << 20, quitting.token()}),
            std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 5s);
  quitter.join();
}

}  // namespace
}  // namespace calorim::sysfs
