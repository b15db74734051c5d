#pragma once
// Golden files: an output compared whole with the file that holds what it
// must be. A run with UPDATE_GOLDEN=1 writes the files instead of comparing
// (review the difference like code); a missing file is a failure otherwise.
// Framework-neutral: gtest tests use EXPECT_GOLDEN, QTest ones the difference.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace calorim::testing {

// What sets `actual` apart from the golden file `path`: empty where they are
// equal, else the first line that differs and the whole output.
inline std::string goldenDifference(const std::filesystem::path& path, const std::string& actual) {
  if (const char* update = std::getenv("UPDATE_GOLDEN"); update != nullptr && std::string_view(update) == "1") {
    std::ofstream(path, std::ios::binary) << actual;
    return {};
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) return path.string() + " is missing: write it with UPDATE_GOLDEN=1 and review it";
  std::stringstream expected;
  expected << file.rdbuf();
  if (expected.str() == actual) return {};
  std::istringstream got(actual);
  std::string wanted, line;
  int number = 1;
  while (std::getline(expected, wanted) && std::getline(got, line) && wanted == line) ++number;
  return path.string() + " differs from line " + std::to_string(number) + " on; the output is:\n" + actual +
         "refresh the file with UPDATE_GOLDEN=1 after checking the difference";
}

}  // namespace calorim::testing

// In a gtest test: fails it with the difference.
#define EXPECT_GOLDEN(path, actual)                                                                  \
  do {                                                                                               \
    const std::string golden_difference = ::calorim::testing::goldenDifference((path), (actual));    \
    EXPECT_TRUE(golden_difference.empty()) << golden_difference;                                     \
  } while (false)
