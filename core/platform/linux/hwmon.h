#pragma once
// hwmon chips (sys/class/hwmon/hwmonN) and their temperature and fan channels.
//
// A chip is known by its `name` ("coretemp", "k10temp", "amdgpu", "nct6775",
// ...). Its channel files are `<type><index>_<item>`: `tempN_input` in
// millidegrees Celsius (signed), `tempN_label`, `fanN_input` in RPM. Modern
// drivers keep them in the chip's own folder, old ones in its `device` folder;
// both are looked at. This file only finds chips and channels; the values are
// read by the ports, each through its own kept file.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calorim::sysfs {

struct HwmonChip {
  std::string dir;              // "hwmon3"
  std::string name;             // the chip's `name`
  std::filesystem::path path;   // <root>/sys/class/hwmon/hwmon3
};

struct HwmonChannel {
  int index = 0;                       // the N of tempN_input / fanN_input
  std::optional<std::string> label;    // `tempN_label`; absent when the driver gives none
  std::filesystem::path input;         // the `..._input` file (may be unreadable)
};

// Chips with a readable `name`, in natural order of their folders. Empty when
// the class folder is missing.
[[nodiscard]] std::vector<HwmonChip> readHwmonChips(const std::filesystem::path& root);

// Channels of `type` ("temp", "fan") that have an `_input` entry, by index.
// Looks in the chip's folder and, when that holds none, in its `device` folder.
[[nodiscard]] std::vector<HwmonChannel> readHwmonChannels(const HwmonChip& chip, std::string_view type);

// The index of a channel file: ("temp12_input", "temp", "input") is 12. Absent
// when the name has another type or item, or no decimal index. Pure.
[[nodiscard]] std::optional<int> parseChannelIndex(std::string_view fileName, std::string_view type,
                                                   std::string_view item);

// A temperature in millidegrees ("48625", "-5000") as °C (48.625, -5.0).
// Absent for anything that is not a whole number. Pure.
[[nodiscard]] std::optional<double> parseMillidegrees(std::string_view text);

// The name of the DRM card ("card0") of a GPU chip's device, from
// `<chip>/device/drm/cardN`; absent when the chip has no such link.
[[nodiscard]] std::optional<std::string> readDrmCardName(const HwmonChip& chip);

}  // namespace calorim::sysfs
