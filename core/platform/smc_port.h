#pragma once
// The SMC port: a connection to the system management controller and its one
// call, which exchanges an 80-byte parameter block.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace calorim {

using SmcParamBlock = std::array<std::uint8_t, 80>;

// Layout of the parameter block: little-endian host fields at fixed offsets;
// every field a call does not set is zero.
namespace smc {

inline constexpr std::uint32_t kSelector = 2;  // the one struct method
inline constexpr std::size_t kKeyOffset = 0;
inline constexpr std::size_t kDataSizeOffset = 28;
inline constexpr std::size_t kDataTypeOffset = 32;
// The controller's own verdict on a call that went through: 0 for success,
// anything else a failure such as kKeyNotFound, the rest of the block then
// holding nothing.
inline constexpr std::size_t kResultOffset = 40;
inline constexpr std::uint8_t kKeyNotFound = 0x84;
inline constexpr std::size_t kCommandOffset = 42;
inline constexpr std::size_t kBytesOffset = 48;
inline constexpr std::size_t kBytesCapacity = 32;
inline constexpr std::uint8_t kReadKeyInfo = 9;  // command: size and type of a key
inline constexpr std::uint8_t kReadBytes = 5;    // command: the key's data bytes

// The 32-bit code of a key or type name: its four bytes read big-endian, so
// "FNum" is 0x464E756D. A name that is not exactly four bytes long gets 0.
constexpr std::uint32_t keyCode(std::string_view key) {
  if (key.size() != 4) return 0;
  std::uint32_t code = 0;
  for (char c : key) code = code << 8 | static_cast<std::uint8_t>(c);
  return code;
}

}  // namespace smc

// An open connection; destroying it closes the connection.
class SmcConnection {
 public:
  virtual ~SmcConnection() = default;
  // One struct-method call with `selector`; the output block, or absent when
  // the call returned a non-zero status.
  [[nodiscard]] virtual std::optional<SmcParamBlock> call(std::uint32_t selector, const SmcParamBlock& input) = 0;
};

class SmcPort {
 public:
  virtual ~SmcPort() = default;
  // Opens a connection to the controller; null when there is no controller or
  // it cannot be opened.
  [[nodiscard]] virtual std::unique_ptr<SmcConnection> open() = 0;
};

}  // namespace calorim
