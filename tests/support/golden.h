#pragma once
// Golden files: an output compared whole with the file that holds what it
// must be. A run with UPDATE_GOLDEN=1 writes the files instead of comparing
// (review the difference like code); a missing file is a failure otherwise.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace calorim::testing {

inline void expectGolden(const std::filesystem::path& path, const std::string& actual) {
  if (const char* update = std::getenv("UPDATE_GOLDEN"); update != nullptr && std::string_view(update) == "1") {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file) << path << " is missing: write it with UPDATE_GOLDEN=1 and review it";
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(actual, expected.str()) << path << " differs: refresh it with UPDATE_GOLDEN=1 after checking the difference";
}

}  // namespace calorim::testing
