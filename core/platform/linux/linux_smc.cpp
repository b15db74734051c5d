#include "core/platform/linux/linux_smc.h"

#include <algorithm>
#include <bit>
#include <string>
#include <utility>

#include "core/base/little_endian.h"
#include "core/platform/linux/hwmon.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

using namespace smc;

constexpr std::size_t kMaxFans = 10;

// The fan index of "F<i>Ac"; absent for other keys.
std::optional<std::size_t> fanIndex(std::uint32_t code) {
  const auto byte = [code](int i) { return static_cast<char>(code >> (8 * (3 - i))); };
  if (byte(0) != 'F' || byte(2) != 'A' || byte(3) != 'c' || byte(1) < '0' || byte(1) > '9') return std::nullopt;
  return static_cast<std::size_t>(byte(1) - '0');
}

std::optional<float> readRpm(KeptFile& file) {
  const std::optional<std::string> text = file.read();
  if (!text) return std::nullopt;
  const std::optional<std::int64_t> rpm = parseSigned(*text);
  if (!rpm || *rpm < 0) return std::nullopt;
  return static_cast<float>(*rpm);
}

class Connection final : public SmcConnection {
 public:
  explicit Connection(const std::vector<std::filesystem::path>& fans) {
    fans_.reserve(fans.size());
    for (const auto& path : fans) fans_.emplace_back(path);
  }

  std::optional<SmcParamBlock> call(std::uint32_t selector, const SmcParamBlock& input) override {
    if (selector != kSelector) return std::nullopt;
    const std::uint32_t key = loadLE32(input, kKeyOffset);
    const std::uint8_t command = input[kCommandOffset];
    SmcParamBlock out{};
    storeLE32(out, kKeyOffset, key);

    std::vector<std::uint8_t> bytes;
    std::uint32_t type = 0;
    if (key == keyCode("FNum")) {
      type = keyCode("ui8 ");
      bytes = {static_cast<std::uint8_t>(fans_.size())};
    } else if (const auto fan = fanIndex(key); fan && *fan < fans_.size()) {
      type = keyCode("flt ");
      bytes.assign(4, 0);
      if (command == kReadBytes) {
        const std::optional<float> rpm = readRpm(fans_[*fan]);
        if (!rpm) return std::nullopt;
        storeLE32(bytes, 0, std::bit_cast<std::uint32_t>(*rpm));
      }
    } else {
      return std::nullopt;
    }

    switch (command) {
      case kReadKeyInfo:
        storeLE32(out, kDataSizeOffset, static_cast<std::uint32_t>(bytes.size()));
        storeLE32(out, kDataTypeOffset, type);
        return out;
      case kReadBytes: {
        const std::size_t n = std::min<std::size_t>({bytes.size(), kBytesCapacity, loadLE32(input, kDataSizeOffset)});
        std::copy_n(bytes.begin(), n, out.begin() + kBytesOffset);
        return out;
      }
      default:
        return std::nullopt;
    }
  }

 private:
  std::vector<KeptFile> fans_;
};

}  // namespace

namespace detail {

std::vector<std::filesystem::path> findFanInputs(const std::filesystem::path& root) {
  std::vector<std::filesystem::path> fans;
  for (const HwmonChip& chip : readHwmonChips(root)) {
    for (const HwmonChannel& channel : readHwmonChannels(chip, "fan")) {
      const std::optional<std::string> text = readAttribute(channel.input);
      const std::optional<std::int64_t> rpm = text ? parseSigned(*text) : std::nullopt;
      if (!rpm || *rpm < 0) continue;
      fans.push_back(channel.input);
      if (fans.size() == kMaxFans) return fans;
    }
  }
  return fans;
}

}  // namespace detail

LinuxSmc::LinuxSmc(std::filesystem::path root) : root_(std::move(root)) {}

std::unique_ptr<SmcConnection> LinuxSmc::open() { return std::make_unique<Connection>(detail::findFanInputs(root_)); }

}  // namespace calorim::sysfs
