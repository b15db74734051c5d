// The --output file: replaced whole, links followed, devices written as they
// are, nothing left beside it, and a clear reason where it cannot be made.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "run/report_file.h"

namespace calorim::run {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(ReportFile, ReplacedWholeOrNotAtAll) {
  std::string pattern = (fs::temp_directory_path() / "calorim-report-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  const fs::path report = folder / "report.txt";
  std::ofstream(report) << "an older, longer report\n";
  fs::create_symlink("report.txt", folder / "link.txt");

  // Nothing shows before the commit: the old file stays as it was.
  {
    auto file = ReportFile::create(report.string());
    ASSERT_TRUE(std::holds_alternative<ReportFile>(file));
    EXPECT_EQ(contents(report), "an older, longer report\n");
    EXPECT_EQ(std::get<ReportFile>(file).commit("new\n"), std::nullopt);
    EXPECT_EQ(std::get<ReportFile>(file).commit("again\n"), "the report was already written");
  }
  EXPECT_EQ(contents(report), "new\n");
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(fs::status(report).permissions(), static_cast<fs::perms>(0666 & ~mask & 0777));

  // Through a link the file it leads to is replaced, and the link stays.
  {
    auto file = ReportFile::create((folder / "link.txt").string());
    ASSERT_TRUE(std::holds_alternative<ReportFile>(file));
    EXPECT_EQ(std::get<ReportFile>(file).commit("linked\n"), std::nullopt);
  }
  EXPECT_TRUE(fs::is_symlink(folder / "link.txt"));
  EXPECT_EQ(contents(report), "linked\n");

  // Given up before the commit (the command could not start): nothing changes.
  { auto file = ReportFile::create((folder / "never.txt").string()); }
  EXPECT_FALSE(fs::exists(folder / "never.txt"));

  // A device is written to, not replaced; a file reached through /dev/fd is
  // appended to, after what the command wrote there.
  {
    auto file = ReportFile::create("/dev/null");
    ASSERT_TRUE(std::holds_alternative<ReportFile>(file));
    EXPECT_EQ(std::get<ReportFile>(file).commit("gone\n"), std::nullopt);
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  {
    const int log = ::open((folder / "log.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(log, 0);
    ASSERT_EQ(::write(log, "output\n", 7), 7);
    auto file = ReportFile::create("/dev/fd/" + std::to_string(log));
    ASSERT_TRUE(std::holds_alternative<ReportFile>(file));
    EXPECT_EQ(std::get<ReportFile>(file).commit("report\n"), std::nullopt);
    ::close(log);
  }
  EXPECT_EQ(contents(folder / "log.txt"), "output\nreport\n");
  fs::remove(folder / "log.txt");

  const struct {
    std::string path;
    std::string reason;
  } kRefused[] = {
      {folder.string(), "it is a folder"},
      {folder.string() + "/", "it names a folder"},
      {(folder / "missing" / "r.txt").string(), "No such file or directory"},
  };
  for (const auto& [path, reason] : kRefused) {
    const auto file = ReportFile::create(path);
    ASSERT_TRUE(std::holds_alternative<std::string>(file)) << path;
    EXPECT_EQ(std::get<std::string>(file), reason);
  }
  // Only the report and the link: no new file was left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 2);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace calorim::run
