#pragma once
// The SMC port: a connection to the system management controller and its one
// call, which exchanges an 80-byte parameter block.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace calorim {

using SmcParamBlock = std::array<std::uint8_t, 80>;

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
