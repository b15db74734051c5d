#include "core/platform/linux/linux_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>
#include <vector>

#include "core/platform/linux/proc_stat.h"
#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

// A stat line is a few hundred bytes; a cpu.stat a few lines.
constexpr std::size_t kStatBytes = 1024;

// A directory stream that closes itself.
class Directory {
 public:
  explicit Directory(int fd) : dir_(fd >= 0 ? ::fdopendir(fd) : nullptr) {
    if (fd >= 0 && !dir_) ::close(fd);
  }
  ~Directory() {
    if (dir_) ::closedir(dir_);
  }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  [[nodiscard]] bool isOpen() const { return dir_ != nullptr; }
  [[nodiscard]] int fd() const { return ::dirfd(dir_); }
  [[nodiscard]] const dirent* next() { return ::readdir(dir_); }

 private:
  DIR* dir_;
};

int openAt(int dirFd, const char* name, int flags) {
  int fd = -1;
  do {
    fd = ::openat(dirFd, name, flags | O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// One read of at most `N` bytes; the text read, or absent when it failed.
template <std::size_t N>
std::optional<std::string_view> readOnce(int fd, std::array<char, N>& buffer) {
  ssize_t n = -1;
  do {
    n = ::read(fd, buffer.data(), buffer.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) return std::nullopt;
  return std::string_view(buffer.data(), static_cast<std::size_t>(n));
}

bool isProcessId(const char* name) {
  std::size_t length = 0;
  for (; name[length] != '\0'; ++length) {
    if (name[length] < '0' || name[length] > '9' || length >= 10) return false;
  }
  return length > 0;
}

std::optional<ProcessTimes> readProcess(int procFd, const char* pid) {
  const std::string path = std::string(pid) + "/stat";
  const int fd = openAt(procFd, path.c_str(), 0);
  if (fd < 0) return std::nullopt;
  std::array<char, kStatBytes> buffer;
  const std::optional<std::string_view> text = readOnce(fd, buffer);
  struct stat owner {};
  const bool owned = ::fstat(fd, &owner) == 0;
  ::close(fd);
  if (!text) return std::nullopt;
  const std::optional<ProcessStat> stat = parseProcessStat(*text);
  if (!stat) return std::nullopt;
  ProcessTimes process;
  process.pid = stat->pid;
  process.name = stat->comm;
  if (owned) process.uid = owner.st_uid;
  process.startTime = stat->starttime;
  process.cpuTime = stat->utime + stat->stime;
  return process;
}

std::optional<std::uint64_t> readUsage(int dirFd) {
  const int fd = openAt(dirFd, "cpu.stat", 0);
  if (fd < 0) return std::nullopt;
  std::array<char, kStatBytes> buffer;
  const std::optional<std::string_view> text = readOnce(fd, buffer);
  ::close(fd);
  if (!text) return std::nullopt;
  return parseCgroupUsage(*text);
}

bool isSubdirectory(int dirFd, const dirent& entry) {
  if (entry.d_name[0] == '.') return false;
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_UNKNOWN) return false;
  struct stat s {};
  return ::fstatat(dirFd, entry.d_name, &s, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(s.st_mode);
}

// Adds the groups below the directory `dirFd` (whose path is `prefix`) to
// `table`, `levels` levels deep. Closes `dirFd`.
void walkGroups(int dirFd, const std::string& prefix, int levels, CgroupTable& table) {
  Directory dir(dirFd);
  if (!dir.isOpen()) return;
  std::vector<std::string> children;
  while (const dirent* entry = dir.next()) {
    if (isSubdirectory(dir.fd(), *entry)) children.emplace_back(entry->d_name);
  }
  std::sort(children.begin(), children.end(), [](const std::string& a, const std::string& b) { return naturalLess(a, b); });
  for (const std::string& child : children) {
    if (table.groups.size() >= LinuxProcesses::kMaxCgroups) return;
    const int childFd = openAt(dir.fd(), child.c_str(), O_DIRECTORY | O_NOFOLLOW);
    if (childFd < 0) continue;
    const std::optional<std::uint64_t> usage = readUsage(childFd);
    const std::string path = prefix.empty() ? child : prefix + "/" + child;
    if (usage) table.groups.push_back({path, *usage});
    if (levels > 1) {
      walkGroups(childFd, path, levels - 1, table);
    } else {
      ::close(childFd);
    }
  }
}

// The next field of a stat line after `pos`, separated by spaces.
std::optional<std::uint64_t> nextNumber(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  const std::size_t end = std::min(text.find(' ', pos), text.size());
  const std::optional<std::uint64_t> value = parseUnsigned(text.substr(pos, end - pos));
  pos = end;
  return value;
}

void skipField(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  while (pos < text.size() && text[pos] != ' ') ++pos;
}

}  // namespace

std::optional<ProcessStat> parseProcessStat(std::string_view text) {
  const std::size_t open = text.find(" (");
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open + 2) return std::nullopt;
  const std::optional<std::uint64_t> pid = parseUnsigned(text.substr(0, open));
  if (!pid || *pid > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
  ProcessStat stat;
  stat.pid = static_cast<std::int64_t>(*pid);
  stat.comm = std::string(text.substr(open + 2, close - open - 2));
  // After the name: state (3), ppid, pgrp, session, tty_nr, tpgid, flags,
  // minflt, cminflt, majflt, cmajflt, utime (14), stime (15), cutime, cstime,
  // priority, nice, num_threads, itrealvalue, starttime (22).
  std::string_view rest = text.substr(close + 1);
  if (const std::size_t newline = rest.find('\n'); newline != std::string_view::npos) rest = rest.substr(0, newline);
  std::size_t pos = 0;
  for (int field = 3; field < 14; ++field) skipField(rest, pos);
  const std::optional<std::uint64_t> utime = nextNumber(rest, pos);
  const std::optional<std::uint64_t> stime = nextNumber(rest, pos);
  for (int field = 16; field < 22; ++field) skipField(rest, pos);
  const std::optional<std::uint64_t> starttime = nextNumber(rest, pos);
  if (!utime || !stime || !starttime || *utime > UINT64_MAX - *stime) return std::nullopt;
  stat.utime = *utime;
  stat.stime = *stime;
  stat.starttime = *starttime;
  return stat;
}

std::optional<std::uint64_t> parseCgroupUsage(std::string_view text) {
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (line.starts_with("usage_usec ")) return parseUnsigned(line.substr(11));
  }
  return std::nullopt;
}

LinuxProcesses::LinuxProcesses(std::filesystem::path root, std::uint64_t ticksPerSecond)
    : root_(std::move(root)), ticksPerSecond_(ticksPerSecond) {}

std::optional<ProcessTable> LinuxProcesses::processes() {
  if (ticksPerSecond_ == 0) return std::nullopt;
  Directory proc(openAt(AT_FDCWD, (root_ / "proc").c_str(), O_DIRECTORY));
  if (!proc.isOpen()) return std::nullopt;
  ProcessTable table;
  table.unit = {1'000'000'000, ticksPerSecond_};
  while (const dirent* entry = proc.next()) {
    if (table.processes.size() >= kMaxProcesses) break;
    if (!isProcessId(entry->d_name)) continue;
    if (std::optional<ProcessTimes> process = readProcess(proc.fd(), entry->d_name)) {
      table.processes.push_back(std::move(*process));
    }
  }
  if (const std::optional<std::vector<ProcStatCpu>> cpus = readProcStat(root_)) {
    std::uint64_t busy = 0;
    for (const ProcStatCpu& cpu : *cpus) busy += cpu.active();
    table.busyTime = busy;
  }
  return table;
}

std::optional<CgroupTable> LinuxProcesses::cgroups(int depth) {
  if (depth < 1) return std::nullopt;
  const int rootFd = openAt(AT_FDCWD, (root_ / "sys/fs/cgroup").c_str(), O_DIRECTORY);
  if (rootFd < 0) return std::nullopt;
  if (::faccessat(rootFd, "cgroup.controllers", F_OK, 0) != 0) {
    ::close(rootFd);
    return std::nullopt;
  }
  CgroupTable table;
  table.totalMicroseconds = readUsage(rootFd);
  walkGroups(rootFd, "", std::min(depth, kMaxCgroupDepth), table);
  return table;
}

}  // namespace calorim::sysfs
