#pragma once
// Names of PCI devices from the PCI ids database (usr/share/misc/pci.ids,
// installed by Debian's `pci.ids` package). The database is a text of vendor
// lines ("1002  Advanced Micro Devices, Inc. [AMD/ATI]"), each followed by its
// device lines (one tab, "73bf  Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]")
// and their subsystem lines (two tabs). Vendors ascend by id.
//
// The file is read as a stream, line by line, and only up to the vendor that
// is asked for: a few hundred kilobytes at most for the usual GPU vendors,
// never more than `kMaxBytes`, and lines longer than `kMaxLineBytes` are
// skipped, so a damaged or hostile file costs bounded time and memory.

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>

namespace calorim::sysfs {

inline constexpr std::size_t kPciIdsMaxBytes = std::size_t{16} << 20;
inline constexpr std::size_t kPciIdsMaxLineBytes = 512;

// The device's name as the database spells it; absent when the vendor or the
// device is not listed, or the text ends (or reaches `maxBytes`) first.
[[nodiscard]] std::optional<std::string> pciDeviceName(std::istream& ids, std::uint16_t vendor, std::uint16_t device,
                                                       std::size_t maxBytes = kPciIdsMaxBytes);

// The name a GPU is shown by: the vendor's short name and the marketing name
// in the device's brackets when it has one ("Navi 23 [Radeon RX 6600/6600 XT]"
// of vendor 0x1002 gives "AMD Radeon RX 6600/6600 XT"), else the whole device
// name after the vendor's. Pure.
[[nodiscard]] std::string gpuDisplayName(std::uint16_t vendor, const std::string& deviceName);

// The short name of a GPU vendor: "AMD", "Intel", "NVIDIA"; "GPU" for others. Pure.
[[nodiscard]] std::string gpuVendorName(std::uint16_t vendor);

// The display name of the PCI device in `deviceFolder` (its `vendor` and
// `device` files, "0x1002") from the database under `root`; absent when either
// cannot be read or the database does not know the device.
[[nodiscard]] std::optional<std::string> pciGpuName(const std::filesystem::path& root,
                                                    const std::filesystem::path& deviceFolder);

// A PCI id file's value ("0x73bf"); absent when the file is missing or malformed.
[[nodiscard]] std::optional<std::uint16_t> readPciId(const std::filesystem::path& path);

}  // namespace calorim::sysfs
