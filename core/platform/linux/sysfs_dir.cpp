#include "core/platform/linux/sysfs_dir.h"

#include <algorithm>
#include <system_error>

namespace calorim::sysfs {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// -1, 0 or 1 as the digit runs starting at a[i] and b[j] compare by value;
// advances i and j past them.
int compareNumbers(std::string_view a, std::size_t& i, std::string_view b, std::size_t& j) {
  while (i < a.size() && a[i] == '0' && i + 1 < a.size() && isDigit(a[i + 1])) ++i;
  while (j < b.size() && b[j] == '0' && j + 1 < b.size() && isDigit(b[j + 1])) ++j;
  const std::size_t startA = i;
  const std::size_t startB = j;
  while (i < a.size() && isDigit(a[i])) ++i;
  while (j < b.size() && isDigit(b[j])) ++j;
  const std::string_view numA = a.substr(startA, i - startA);
  const std::string_view numB = b.substr(startB, j - startB);
  if (numA.size() != numB.size()) return numA.size() < numB.size() ? -1 : 1;
  const int c = numA.compare(numB);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

bool naturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      if (const int c = compareNumbers(a, i, b, j); c != 0) return c < 0;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();
  return a < b;  // "a01" and "a1": equal by value, ordered by bytes
}

std::vector<std::string> listDirectory(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return names;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end(), [](const std::string& x, const std::string& y) { return naturalLess(x, y); });
  return names;
}

bool isDirectory(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

}  // namespace calorim::sysfs
