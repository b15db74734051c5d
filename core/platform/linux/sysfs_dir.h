#pragma once
// Directory listings for the sysfs readers, in a stable order.
//
// The kernel numbers its objects (hwmonN, thermal_zoneN, usbN, pdN) in probe
// order and directory iteration order is arbitrary, so every reader lists a
// class folder through `listDirectory` and walks the names in natural order:
// runs of digits compare by value, so "hwmon2" comes before "hwmon10".

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace calorim::sysfs {

// Natural order: digit runs compare by numeric value (leading zeros ignored),
// other characters byte by byte; names equal under that rule fall back to plain
// byte order, so the order is strict and total. Pure.
[[nodiscard]] bool naturalLess(std::string_view a, std::string_view b);

// Names of the entries of `dir` (files, folders and links alike) in natural
// order; empty when `dir` is missing or cannot be listed. Never throws, except
// std::bad_alloc.
[[nodiscard]] std::vector<std::string> listDirectory(const std::filesystem::path& dir);

// Whether `path` is a folder (following links). Never throws.
[[nodiscard]] bool isDirectory(const std::filesystem::path& path);

}  // namespace calorim::sysfs
