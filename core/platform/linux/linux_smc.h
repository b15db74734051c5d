#pragma once
// The SMC port on Linux: a connection that answers the controller's 80-byte
// parameter block for the fan keys, from hwmon fans (sys/class/hwmon/*/fanN_input, RPM).
//
//   "FNum"  type "ui8 ", size 1: the number of fans
//   "F<i>Ac" type "flt ", size 4: fan i's speed in RPM, a little-endian float
//
// Fans are the `fanN_input` files that read a number when the connection is
// opened, chips in natural order of their folders and fans by index; at most
// ten, since a key has four characters (F0Ac ... F9Ac). Each read takes the
// value afresh. Only selector 2 is answered, with command 9 (key info: data
// size at offset 28, little-endian; type code at 32) and command 5 (read: data
// bytes from offset 48); any other key, command or selector fails, and so does
// a read of a fan whose file cannot be read at that moment. There are no
// temperature keys: temperatures come through the HID port.
//
// `open` always gives a connection; on a machine without fans "FNum" reads 0.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/platform/smc_port.h"

namespace calorim::sysfs {

class LinuxSmc final : public SmcPort {
 public:
  explicit LinuxSmc(std::filesystem::path root);

  // Finds the fans now; never null. Does not throw, except std::bad_alloc.
  std::unique_ptr<SmcConnection> open() override;

 private:
  std::filesystem::path root_;
};

namespace detail {

// The fans' `fanN_input` files that read a number now, in the order above, at most ten.
[[nodiscard]] std::vector<std::filesystem::path> findFanInputs(const std::filesystem::path& root);

}  // namespace detail
}  // namespace calorim::sysfs
