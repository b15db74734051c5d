#pragma once
// Energy counters that this process may not read, as on a machine where only
// root reads RAPL: every `energy_uj` under <root>/sys/class/powercap is made
// mode 0400 and, when the tests run as root (who owns the copied tree), the process
// reads files as the user "nobody" while a `LockedCounters` lives (its
// effective user and group change; real and saved stay root, so it can turn
// back). Run as an ordinary user, the files are made mode 0000 instead, which
// their owner cannot read either. `grant` makes them readable by everyone, as
// the opt-in udev rule does for its group (and writable, for the test clocks
// that move the counters on).

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace calorim::testing {

class LockedCounters {
 public:
  static constexpr uid_t kNobody = 65534;

  explicit LockedCounters(std::filesystem::path root) : root_(std::move(root)) {
    // The folder of a test tree is made private; the user must pass through it.
    ::chmod(root_.c_str(), 0755);
    setMode(asRoot_ ? 0400 : 0000);
    if (asRoot_) {
      (void)!::setegid(kNobody);
      (void)!::seteuid(kNobody);
    }
  }
  ~LockedCounters() { becomeRoot(); }
  LockedCounters(const LockedCounters&) = delete;
  LockedCounters& operator=(const LockedCounters&) = delete;

  // Whether the files are really out of reach now (false where the user could not be changed).
  [[nodiscard]] bool locked() const { return !asRoot_ || ::geteuid() == kNobody; }

  // Access granted while the reader runs.
  void grant() {
    const bool wasNobody = asRoot_ && ::geteuid() == kNobody;
    becomeRoot();
    setMode(0666);
    if (wasNobody) {
      (void)!::setegid(kNobody);
      (void)!::seteuid(kNobody);
    }
  }

 private:
  void becomeRoot() const {
    if (!asRoot_) return;
    (void)!::seteuid(0);
    (void)!::setegid(0);
  }
  void setMode(mode_t mode) const {
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(root_ / "sys/class/powercap", ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->path().filename() == "energy_uj" && it->is_regular_file()) ::chmod(it->path().c_str(), mode);
    }
  }

  std::filesystem::path root_;
  bool asRoot_ = ::geteuid() == 0;
};

}  // namespace calorim::testing
