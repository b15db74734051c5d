#include "core/platform/linux/pci_ids.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <fstream>
#include <string_view>

#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

// Four hex digits at the start of `text` followed by white space.
std::optional<std::uint16_t> leadingId(std::string_view text) {
  if (text.size() < 5 || (text[4] != ' ' && text[4] != '\t')) return std::nullopt;
  std::uint16_t id = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + 4, id, 16);
  if (ec != std::errc() || end != text.data() + 4) return std::nullopt;
  return id;
}

}  // namespace

std::optional<std::string> pciDeviceName(std::istream& ids, std::uint16_t vendor, std::uint16_t device,
                                         std::size_t maxBytes) {
  std::array<char, kPciIdsMaxLineBytes> buffer{};
  std::size_t consumed = 0;
  bool inVendor = false;
  while (consumed < maxBytes) {
    ids.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto count = static_cast<std::size_t>(ids.gcount());
    consumed += count;
    if (ids.fail() && !ids.eof() && count + 1 >= buffer.size()) {
      // A line longer than the buffer: skip the rest of it.
      ids.clear();
      ids.ignore(static_cast<std::streamsize>(maxBytes - std::min(consumed, maxBytes)), '\n');
      consumed += static_cast<std::size_t>(ids.gcount());
      continue;
    }
    if (count == 0 && !ids) return std::nullopt;
    const std::string_view line(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
    if (line.empty() || line.front() == '#') continue;
    if (line.front() != '\t') {
      const std::optional<std::uint16_t> id = leadingId(line);
      if (!id) {
        // The classes section ("C 00  Unclassified device") follows the vendors.
        if (line.starts_with("C ")) return std::nullopt;
        inVendor = false;
        continue;
      }
      if (inVendor || *id > vendor) return std::nullopt;
      inVendor = *id == vendor;
      continue;
    }
    if (!inVendor || line.size() < 2 || line[1] == '\t') continue;
    if (leadingId(line.substr(1)) != device) continue;
    const std::string_view name = trim(line.substr(6));
    if (name.empty()) return std::nullopt;
    return std::string(name);
  }
  return std::nullopt;
}

std::string gpuVendorName(std::uint16_t vendor) {
  switch (vendor) {
    case 0x1002: return "AMD";
    case 0x8086: return "Intel";
    case 0x10de: return "NVIDIA";
    default: return "GPU";
  }
}

std::string gpuDisplayName(std::uint16_t vendor, const std::string& deviceName) {
  const std::string brand = gpuVendorName(vendor);
  std::string_view name = deviceName;
  const std::size_t open = name.find('[');
  const std::size_t close = name.rfind(']');
  if (open != std::string_view::npos && close != std::string_view::npos && close > open + 1) {
    name = trim(name.substr(open + 1, close - open - 1));
  }
  if (name.starts_with(brand + " ")) return std::string(name);
  return brand + " " + std::string(name);
}

std::optional<std::uint16_t> readPciId(const std::filesystem::path& path) {
  const std::optional<std::string> text = readAttribute(path);
  if (!text || text->size() != 6 || !text->starts_with("0x")) return std::nullopt;
  std::uint16_t id = 0;
  const auto [end, ec] = std::from_chars(text->data() + 2, text->data() + 6, id, 16);
  if (ec != std::errc() || end != text->data() + 6) return std::nullopt;
  return id;
}

std::optional<std::string> pciGpuName(const std::filesystem::path& root, const std::filesystem::path& deviceFolder) {
  const std::optional<std::uint16_t> vendor = readPciId(deviceFolder / "vendor");
  const std::optional<std::uint16_t> device = readPciId(deviceFolder / "device");
  if (!vendor || !device) return std::nullopt;
  std::ifstream ids(root / "usr/share/misc/pci.ids");
  if (!ids) return std::nullopt;
  const std::optional<std::string> name = pciDeviceName(ids, *vendor, *device);
  if (!name) return std::nullopt;
  return gpuDisplayName(*vendor, *name);
}

}  // namespace calorim::sysfs
