#include "core/platform/linux/hwmon.h"

#include <algorithm>
#include <charconv>

#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

bool allDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<HwmonChannel> channelsIn(const std::filesystem::path& folder, std::string_view type) {
  std::vector<HwmonChannel> channels;
  for (const std::string& entry : listDirectory(folder)) {
    const std::optional<int> index = parseChannelIndex(entry, type, "input");
    if (!index) continue;
    HwmonChannel channel;
    channel.index = *index;
    channel.input = folder / entry;
    const std::string labelFile = std::string(type) + std::to_string(*index) + "_label";
    if (std::optional<std::string> label = readAttribute(folder / labelFile); label && !label->empty()) {
      channel.label = std::move(*label);
    }
    channels.push_back(std::move(channel));
  }
  std::sort(channels.begin(), channels.end(),
            [](const HwmonChannel& a, const HwmonChannel& b) { return a.index < b.index; });
  return channels;
}

}  // namespace

std::vector<HwmonChip> readHwmonChips(const std::filesystem::path& root) {
  const std::filesystem::path classDir = root / "sys/class/hwmon";
  std::vector<HwmonChip> chips;
  for (const std::string& dir : listDirectory(classDir)) {
    const std::filesystem::path path = classDir / dir;
    std::optional<std::string> name = readAttribute(path / "name");
    if (!name) name = readAttribute(path / "device/name");  // drivers older than the hwmon core's own `name`
    if (!name || name->empty()) continue;
    chips.push_back({dir, std::move(*name), path});
  }
  return chips;
}

std::vector<HwmonChannel> readHwmonChannels(const HwmonChip& chip, std::string_view type) {
  std::vector<HwmonChannel> channels = channelsIn(chip.path, type);
  if (channels.empty()) channels = channelsIn(chip.path / "device", type);
  return channels;
}

std::optional<int> parseChannelIndex(std::string_view fileName, std::string_view type, std::string_view item) {
  if (fileName.size() <= type.size() + item.size() + 1 || !fileName.starts_with(type)) return std::nullopt;
  fileName.remove_prefix(type.size());
  if (!fileName.ends_with(item) || fileName[fileName.size() - item.size() - 1] != '_') return std::nullopt;
  const std::string_view digits = fileName.substr(0, fileName.size() - item.size() - 1);
  if (!allDigits(digits)) return std::nullopt;
  int index = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return index;
}

std::optional<double> parseMillidegrees(std::string_view text) {
  const std::optional<std::int64_t> milli = parseSigned(text);
  if (!milli) return std::nullopt;
  return static_cast<double>(*milli) / 1000.0;
}

std::optional<std::string> readDrmCardName(const HwmonChip& chip) {
  for (const std::string& entry : listDirectory(chip.path / "device/drm")) {
    if (entry.size() > 4 && entry.starts_with("card") && allDigits(std::string_view(entry).substr(4))) return entry;
  }
  return std::nullopt;
}

}  // namespace calorim::sysfs
