#pragma once
// The machine's name, from the firmware's DMI tables (sys/class/dmi/id) or,
// on boards without them, the device tree's `model`.
//
// DMI strings are whatever the board maker filled in; placeholders such as
// "To be filled by O.E.M." or "System Product Name" are common and mean
// "unknown". Lenovo puts a type code ("21AHCTO1WW") in `product_name` and the
// marketing name in `product_version`.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace calorim::sysfs {

struct DmiIdentity {
  std::optional<std::string> sysVendor;
  std::optional<std::string> productName;
  std::optional<std::string> productVersion;
  std::optional<std::string> boardVendor;
  std::optional<std::string> boardName;
};

// The DMI fields that exist; placeholders are kept as written.
[[nodiscard]] DmiIdentity readDmiIdentity(const std::filesystem::path& root);

// Whether a DMI string says nothing: empty, or a known filler ("To Be Filled
// By O.E.M.", "System Product Name", "Default string", "Not Applicable", ...),
// compared without regard to letter case. Pure.
[[nodiscard]] bool isPlaceholder(std::string_view value);

// The vendor as people call it: "LENOVO" → "Lenovo", "ASUSTeK COMPUTER INC."
// → "ASUS", "Dell Inc." → "Dell"; other names lose company suffixes ("Inc.",
// "Co., Ltd.", "GmbH"). Pure.
[[nodiscard]] std::string shortVendorName(std::string_view vendor);

// "Lenovo ThinkPad T14 Gen 3", "ASUS ROG STRIX B550-F GAMING": the product
// name (Lenovo: the product version), else the board name, each prefixed with
// its short vendor name unless it already names the vendor. Absent when every
// candidate is a placeholder. Pure.
[[nodiscard]] std::optional<std::string> machineNameFromDmi(const DmiIdentity& dmi);

// The device tree's model ("Raspberry Pi 4 Model B Rev 1.4", its NUL
// stripped) from sys/firmware/devicetree/base/model, else proc/device-tree/model.
[[nodiscard]] std::optional<std::string> readDeviceTreeModel(const std::filesystem::path& root);

// The machine's name: DMI first, then the device-tree model; absent when neither knows.
[[nodiscard]] std::optional<std::string> readMachineName(const std::filesystem::path& root);

}  // namespace calorim::sysfs
