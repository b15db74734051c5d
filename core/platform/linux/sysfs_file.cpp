#include "core/platform/linux/sysfs_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <utility>

namespace calorim::sysfs {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0'; }

int openForReading(const std::filesystem::path& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// One read (or pread at `offset` when it is not negative) into a page-sized
// buffer; only an interrupted call is repeated.
std::optional<std::string> readOnce(int fd, off_t offset) {
  std::array<char, kAttributeMaxBytes> buffer;
  ssize_t n = -1;
  do {
    n = offset < 0 ? ::read(fd, buffer.data(), buffer.size()) : ::pread(fd, buffer.data(), buffer.size(), offset);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return std::nullopt;
  return std::string(trim(std::string_view(buffer.data(), static_cast<std::size_t>(n))));
}

}  // namespace

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<std::string> readAttribute(const std::filesystem::path& path) {
  return readAttributeOrError(path).text;
}

AttributeRead readAttributeOrError(const std::filesystem::path& path) {
  const int fd = openForReading(path);
  if (fd < 0) return {std::nullopt, errno};
  AttributeRead result{readOnce(fd, -1), 0};
  if (!result.text) result.error = errno;  // before close() may change it
  ::close(fd);
  return result;
}

std::optional<std::string> readTable(const std::filesystem::path& path, std::size_t limit) {
  const int fd = openForReading(path);
  if (fd < 0) return std::nullopt;
  constexpr std::size_t kChunk = 16384;
  std::string text;
  // One byte beyond the limit tells a file of exactly `limit` bytes from a longer one.
  const std::size_t wanted = limit + 1;
  bool failed = false;
  while (text.size() < wanted) {
    const std::size_t start = text.size();
    const std::size_t count = std::min(kChunk, wanted - start);
    text.resize(start + count);
    ssize_t n = -1;
    do {
      n = ::read(fd, text.data() + start, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      failed = true;
      break;
    }
    text.resize(start + static_cast<std::size_t>(n));
    if (n == 0) break;
  }
  ::close(fd);
  if (failed) return std::nullopt;
  if (text.size() > limit) {
    const std::size_t lastNewline = text.rfind('\n', limit - 1);
    text.resize(lastNewline == std::string::npos || limit == 0 ? 0 : lastNewline + 1);
  }
  return text;
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
  text = trim(text);
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::int64_t> parseSigned(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || (text.front() != '-' && (text.front() < '0' || text.front() > '9'))) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::string> readText(const std::filesystem::path& path) {
  std::optional<std::string> value = readAttribute(path);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::optional<std::int64_t> readNumber(const std::filesystem::path& path) {
  const std::optional<std::string> value = readAttribute(path);
  return value ? parseSigned(*value) : std::nullopt;
}

KeptFile::KeptFile(std::filesystem::path path) : path_(std::move(path)), fd_(openForReading(path_)) {}

KeptFile::~KeptFile() { close(); }

KeptFile::KeptFile(KeptFile&& other) noexcept : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

KeptFile& KeptFile::operator=(KeptFile&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void KeptFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::optional<std::string> KeptFile::read() {
  if (fd_ >= 0) {
    if (std::optional<std::string> text = readOnce(fd_, 0)) return text;
  }
  // Not open yet, or the kept descriptor went stale (a removed device answers ENODEV).
  close();
  fd_ = openForReading(path_);
  if (fd_ < 0) return std::nullopt;
  std::optional<std::string> text = readOnce(fd_, 0);
  if (!text) close();
  return text;
}

}  // namespace calorim::sysfs
