#pragma once
// Reading the kernel's text files under sysfs and procfs.
//
// Every reader of the Linux backend goes through these few functions:
//  - `readAttribute`: a sysfs attribute (one value, at most one page) with one
//    bounded read(). Some drivers answer EAGAIN or EIO; a loop that retried
//    until end of file could spin on them, a single read cannot.
//  - `readTable`: a procfs table (/proc/stat, /proc/cpuinfo, /proc/meminfo),
//    which can be longer than a page, read to its end up to a limit.
//  - `KeptFile`: an attribute that is read again and again (an energy counter):
//    opened once, re-read with pread() at offset 0, which makes the kernel
//    produce the value afresh; reopened when that fails.
//  - `trim`, `parseUnsigned`, `parseSigned`: pure helpers for the values.
//
// A file that is missing, unreadable (permissions, a directory in its place) or
// answers with an error reads as std::nullopt: "value unavailable", never an
// error of the caller. Nothing here throws, except std::bad_alloc.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace calorim::sysfs {

// A sysfs attribute holds at most one page.
inline constexpr std::size_t kAttributeMaxBytes = 4096;

// `text` without leading and trailing white space and NUL bytes (device-tree
// strings end in a NUL).
[[nodiscard]] std::string_view trim(std::string_view text);

// The trimmed contents of a small attribute file, from one read() of at most
// `kAttributeMaxBytes`. Absent when the file cannot be opened or the read fails.
[[nodiscard]] std::optional<std::string> readAttribute(const std::filesystem::path& path);

// One read of an attribute as `readAttribute` does it, telling why it failed:
// the errno of the open() or read() (EACCES for a counter only root may read,
// ENOENT for a missing file, EISDIR for a folder).
struct AttributeRead {
  std::optional<std::string> text;
  int error = 0;  // 0 when `text` is present
};
[[nodiscard]] AttributeRead readAttributeOrError(const std::filesystem::path& path);

// The untrimmed contents of a procfs table, read until end of file. A file
// longer than `limit` bytes is cut after its last complete line within the
// limit, so the text only ever holds whole lines. Absent when the file cannot be
// opened or a read fails.
[[nodiscard]] std::optional<std::string> readTable(const std::filesystem::path& path,
                                                   std::size_t limit = std::size_t{1} << 20);

// A decimal number, white space around it allowed. Absent for empty text, any
// other character (also a sign) or a value beyond 64 bits.
[[nodiscard]] std::optional<std::uint64_t> parseUnsigned(std::string_view text);
// The same with an optional leading '-' or '+'.
[[nodiscard]] std::optional<std::int64_t> parseSigned(std::string_view text);

// An attribute's trimmed text; absent when it cannot be read or is empty.
[[nodiscard]] std::optional<std::string> readText(const std::filesystem::path& path);
// An attribute's signed decimal number; absent when unreadable or not a number.
[[nodiscard]] std::optional<std::int64_t> readNumber(const std::filesystem::path& path);

// An attribute kept open for repeated reads. Owns its descriptor and closes it
// when destroyed; movable, not copyable. Not safe for concurrent reads.
class KeptFile {
 public:
  // Opens `path` at once. When that fails, every `read` tries to open it again.
  explicit KeptFile(std::filesystem::path path);
  ~KeptFile();
  KeptFile(KeptFile&& other) noexcept;
  KeptFile& operator=(KeptFile&& other) noexcept;
  KeptFile(const KeptFile&) = delete;
  KeptFile& operator=(const KeptFile&) = delete;

  // The current trimmed contents: pread() of at most `kAttributeMaxBytes` from
  // offset 0 on the kept descriptor; when that fails, the file is reopened and
  // read once more. Absent when neither works.
  [[nodiscard]] std::optional<std::string> read();

  [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  void close();

  std::filesystem::path path_;
  int fd_ = -1;
};

}  // namespace calorim::sysfs
