#include "core/platform/linux/usb_devices.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "core/platform/linux/sysfs_dir.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool allDigits(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), isDigit); }

std::optional<std::string> text(const std::filesystem::path& dir, const char* file) {
  return readText(dir / file);
}

template <typename Parse>
std::optional<std::int64_t> parsed(const std::filesystem::path& dir, const char* file, Parse parse) {
  const std::optional<std::string> value = readAttribute(dir / file);
  return value ? parse(*value) : std::nullopt;
}

}  // namespace

bool isUsbDeviceName(std::string_view name) {
  if (name.starts_with("usb")) return allDigits(name.substr(3));
  const std::size_t dash = name.find('-');
  if (dash == std::string_view::npos || !allDigits(name.substr(0, dash))) return false;
  std::string_view ports = name.substr(dash + 1);
  while (true) {
    const std::size_t dot = ports.find('.');
    if (!allDigits(ports.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    ports.remove_prefix(dot + 1);
  }
}

std::vector<std::filesystem::path> listUsbDevices(const std::filesystem::path& root) {
  const std::filesystem::path dir = root / "sys/bus/usb/devices";
  std::vector<std::filesystem::path> devices;
  for (const std::string& name : listDirectory(dir)) {
    if (isUsbDeviceName(name)) devices.push_back(dir / name);
  }
  return devices;
}

UsbDevice readUsbDevice(const std::filesystem::path& dir) {
  UsbDevice d;
  d.name = dir.filename().string();
  d.product = text(dir, "product");
  d.manufacturer = text(dir, "manufacturer");
  d.serial = text(dir, "serial");
  d.speedBitsPerSecond = parsed(dir, "speed", parseUsbSpeed);
  d.vendorId = parsed(dir, "idVendor", parseHex);
  d.productId = parsed(dir, "idProduct", parseHex);
  d.deviceClass = parsed(dir, "bDeviceClass", parseHex);
  d.bcdUsb = parsed(dir, "version", parseBcdVersion);
  d.busNumber = parsed(dir, "busnum", parseSigned);
  d.deviceNumber = parsed(dir, "devnum", parseSigned);
  return d;
}

std::optional<std::int64_t> parseUsbSpeed(std::string_view text) {
  text = trim(text);
  const std::size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  if (!allDigits(whole) || (dot != std::string_view::npos && !allDigits(fraction)) || fraction.size() > 6) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> mbit = parseUnsigned(whole);
  // Anything beyond a few Tbit/s is not a USB speed; the bound also keeps the product in range.
  if (!mbit || *mbit > 1'000'000'000) return std::nullopt;
  std::int64_t bits = static_cast<std::int64_t>(*mbit) * 1'000'000;
  std::int64_t scale = 100'000;
  for (char c : fraction) {
    bits += (c - '0') * scale;
    scale /= 10;
  }
  return bits;
}

std::optional<std::int64_t> parseHex(std::string_view text) {
  text = trim(text);
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> parseBcdVersion(std::string_view text) {
  text = trim(text);
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view major = text.substr(0, dot);
  const std::string_view minor = text.substr(dot + 1);
  if (!allDigits(major) || major.size() > 2 || !allDigits(minor) || minor.size() != 2) return std::nullopt;
  std::int64_t bcd = 0;
  for (char c : major) bcd = bcd << 4 | (c - '0');
  for (char c : minor) bcd = bcd << 4 | (c - '0');
  return bcd;
}

}  // namespace calorim::sysfs
