#pragma once
// A writable sysfs (and procfs) tree for tests of the Linux ports: a copy of
// one fixture machine, or an empty tree built file by file. Removed when destroyed.

#include <stdlib.h>

#include <cstddef>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <system_error>

namespace calorim::testing {

class MachineTree {
 public:
  // An empty tree.
  MachineTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "calorim-tree-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
  }
  // A copy of the sysfs part of tests/fixtures/linux/<machine> (an empty one
  // where it has none), links kept as links.
  explicit MachineTree(const std::string& machine) : MachineTree() {
    const std::filesystem::path source = std::filesystem::path(FIXTURE_DIR) / "linux" / machine / "sys";
    std::filesystem::create_directories(root_ / "sys");
    if (std::filesystem::exists(source)) {
      std::filesystem::copy(source, root_ / "sys",
                            std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    }
  }
  // Adds a copy of the procfs part of tests/fixtures/linux/<machine>.
  void copyProc(const std::string& machine) const {
    std::filesystem::copy(std::filesystem::path(FIXTURE_DIR) / "linux" / machine / "proc", root_ / "proc",
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
  }
  ~MachineTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  MachineTree(const MachineTree&) = delete;
  MachineTree& operator=(const MachineTree&) = delete;

  [[nodiscard]] const std::filesystem::path& root() const { return root_; }

  // Writes `value` and a newline, as the kernel does, creating folders on the way.
  void write(const std::string& relative, const std::string& value) const {
    const std::filesystem::path path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::trunc) << value << '\n';
  }
  // Puts a folder where the file was: opening it works, reading it fails; a
  // descriptor kept open on the file reads nothing.
  void makeUnreadable(const std::string& relative) const {
    if (std::filesystem::is_regular_file(root_ / relative)) std::ofstream(root_ / relative, std::ios::trunc);
    std::filesystem::remove_all(root_ / relative);
    std::filesystem::create_directories(root_ / relative);
  }
  void remove(const std::string& relative) const { std::filesystem::remove_all(root_ / relative); }

 private:
  std::filesystem::path root_;
};

// How many descriptors this process has open.
inline std::ptrdiff_t openDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
}

}  // namespace calorim::testing
