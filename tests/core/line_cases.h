#pragma once
// Tables of text cases kept in a golden file: each input on a line of its
// own, followed by what it gives on a line that starts with "  -> " (a line
// end in it written "\n"); lines that start with "#", and blank ones, are
// comments kept as they are. The test runs every input through its function
// and compares the whole file rebuilt from the answers, so a case is added by
// writing its input line and refreshing the file with UPDATE_GOLDEN=1 (then
// reviewing the answer).

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/golden.h"

namespace calorim::testing {

// The file at `path` with every answer given anew by `answer`; `inputs`
// counts the cases, so that an empty file cannot pass for a table.
inline std::string answerLineCases(const std::filesystem::path& path,
                                   const std::function<std::string(const std::string&)>& answer, int& inputs) {
  std::ifstream file(path, std::ios::binary);
  std::string rebuilt;
  inputs = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with("  -> ")) continue;
    rebuilt += line + "\n";
    if (line.empty() || line.starts_with('#')) continue;
    ++inputs;
    std::string given = answer(line);
    for (std::size_t at = 0; (at = given.find('\n', at)) != std::string::npos; at += 2) given.replace(at, 1, "\\n");
    rebuilt += "  -> " + given + "\n";
  }
  return rebuilt;
}

}  // namespace calorim::testing

// In a gtest test: fails it where an answer differs from the file's, or where
// the file holds no case.
#define EXPECT_LINE_CASES(path, answer)                                                        \
  do {                                                                                         \
    int line_cases = 0;                                                                        \
    const std::string line_answers = ::calorim::testing::answerLineCases((path), (answer), line_cases); \
    EXPECT_GT(line_cases, 0) << (path) << " holds no case";                                   \
    EXPECT_GOLDEN((path), line_answers);                                                       \
  } while (false)
