#include "run/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace calorim::run {

namespace {

// The system's own files: /dev/stdout, /dev/fd/3, /proc/self/fd/1 and the like
// stand for a descriptor, which may lead to a regular file (`> log`) that must
// not be replaced behind the command's back.
bool systemFile(const std::string& path) { return path.starts_with("/dev/") || path.starts_with("/proc/"); }

}  // namespace

std::variant<ReportFile, std::string> ReportFile::create(const std::string& path) {
  if (path.ends_with('/')) return std::string("it names a folder");
  struct stat existing {};
  std::string target = path;
  if (::stat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return std::string("it is a folder");
    if (!S_ISREG(existing.st_mode) || systemFile(path)) {
      // Appended to, after whatever the command writes there.
      const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
      if (fd < 0) return std::string(std::strerror(errno));
      return ReportFile({}, {}, fd, 0);
    }
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return std::string(std::strerror(errno));
    target = resolved;
  }
  std::string temporary = target + ".calorim-run-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return std::string(std::strerror(errno));
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  // The umask can only be read by setting it; set back at once, before any
  // thread is started.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return ReportFile(std::move(target), std::move(temporary), fd, 0666U & ~static_cast<unsigned>(mask));
}

ReportFile::ReportFile(ReportFile&& other) noexcept
    : target_(std::move(other.target_)), temporary_(std::move(other.temporary_)), fd_(other.fd_), mode_(other.mode_) {
  other.temporary_.clear();
  other.fd_ = -1;
}

ReportFile::~ReportFile() { discard(); }

void ReportFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

std::optional<std::string> ReportFile::commit(const std::string& text) {
  if (fd_ < 0) return std::string("the report was already written");
  const auto failed = [this] {
    std::string reason = std::strerror(errno);
    discard();
    return reason;
  };
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return failed();
    done += static_cast<std::size_t>(n);
  }
  if (temporary_.empty()) {  // a device or pipe: written as it is
    discard();
    return std::nullopt;
  }
  if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0 || ::fsync(fd_) != 0) return failed();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 || ::rename(temporary_.c_str(), target_.c_str()) != 0) return failed();
  temporary_.clear();
  return std::nullopt;
}

}  // namespace calorim::run
