#include "core/platform/linux/machine_identity.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "core/base/text.h"
#include "core/platform/linux/sysfs_file.h"

namespace calorim::sysfs {
namespace {

// Candidates that name something: the value unless it is a placeholder.
std::optional<std::string> meaningful(const std::optional<std::string>& value) {
  if (!value || isPlaceholder(*value)) return std::nullopt;
  return std::string(trim(*value));
}

std::string withVendor(const std::string& name, const std::optional<std::string>& vendor) {
  const std::optional<std::string> known = meaningful(vendor);
  if (!known) return name;
  const std::string shortName = shortVendorName(*known);
  if (shortName.empty() || lowerCase(name).find(lowerCase(shortName)) != std::string::npos) return name;
  return shortName + " " + name;
}

}  // namespace

DmiIdentity readDmiIdentity(const std::filesystem::path& root) {
  const std::filesystem::path dir = root / "sys/class/dmi/id";
  return {readText(dir / "sys_vendor"), readText(dir / "product_name"), readText(dir / "product_version"),
          readText(dir / "board_vendor"), readText(dir / "board_name")};
}

bool isPlaceholder(std::string_view value) {
  static constexpr std::array<std::string_view, 24> kFillers = {
      "to be filled by o.e.m.", "to be filled by oem", "system product name", "system manufacturer",
      "system version",         "system name",         "default string",      "not applicable",
      "not specified",          "not available",       "none",                "n/a",
      "o.e.m.",                 "oem",                 "0123456789",          "123456789",
      "1234567890",             "type1productconfigid", "product name",        "invalid",
      "x.x",                    "unknown",             "undefined",           "empty"};
  const std::string v = lowerCase(trim(value));
  if (v.empty()) return true;
  if (std::none_of(v.begin(), v.end(), [](unsigned char c) { return std::isalnum(c); })) return true;
  return std::find(kFillers.begin(), kFillers.end(), v) != kFillers.end();
}

std::string shortVendorName(std::string_view vendor) {
  struct Known {
    std::string_view prefix;
    std::string_view name;
  };
  static constexpr std::array<Known, 14> kKnown = {{{"lenovo", "Lenovo"},
                                                    {"dell", "Dell"},
                                                    {"hewlett-packard", "HP"},
                                                    {"hp", "HP"},
                                                    {"asustek", "ASUS"},
                                                    {"asus", "ASUS"},
                                                    {"micro-star", "MSI"},
                                                    {"gigabyte", "Gigabyte"},
                                                    {"acer", "Acer"},
                                                    {"apple", "Apple"},
                                                    {"microsoft", "Microsoft"},
                                                    {"samsung", "Samsung"},
                                                    {"framework", "Framework"},
                                                    {"qemu", "QEMU"}}};
  const std::string v = lowerCase(trim(vendor));
  for (const Known& k : kKnown) {
    if (v.starts_with(k.prefix) && (v.size() == k.prefix.size() || !std::isalnum(static_cast<unsigned char>(v[k.prefix.size()])))) {
      return std::string(k.name);
    }
  }
  // Others lose their company-form words from the end: "innotek GmbH" → "innotek".
  static constexpr std::array<std::string_view, 14> kSuffixes = {
      "inc", "inc.", "corp", "corp.", "corporation", "co", "co.", "ltd", "ltd.", "limited", "gmbh", "llc", "ag", "s.a."};
  std::string name(trim(vendor));
  while (true) {
    while (!name.empty() && (name.back() == ',' || name.back() == ' ')) name.pop_back();
    const std::size_t space = name.find_last_of(" ,");
    if (space == std::string::npos) break;
    std::string last = lowerCase(std::string_view(name).substr(space + 1));
    // "Co.,Ltd." is one word in some tables.
    if (last == "co.,ltd." || last == "co.,ltd") last = "ltd.";
    if (std::find(kSuffixes.begin(), kSuffixes.end(), last) == kSuffixes.end()) break;
    name.erase(space);
  }
  return name;
}

std::optional<std::string> machineNameFromDmi(const DmiIdentity& dmi) {
  std::optional<std::string> product = meaningful(dmi.productName);
  const std::optional<std::string> vendor = meaningful(dmi.sysVendor);
  if (vendor && shortVendorName(*vendor) == "Lenovo") {
    if (std::optional<std::string> marketing = meaningful(dmi.productVersion)) product = std::move(marketing);
  }
  if (product) return withVendor(*product, dmi.sysVendor);
  if (std::optional<std::string> board = meaningful(dmi.boardName)) {
    return withVendor(*board, dmi.boardVendor ? dmi.boardVendor : dmi.sysVendor);
  }
  return std::nullopt;
}

std::optional<std::string> readDeviceTreeModel(const std::filesystem::path& root) {
  for (const char* file : {"sys/firmware/devicetree/base/model", "proc/device-tree/model"}) {
    std::optional<std::string> model = readAttribute(root / file);
    if (!model) continue;
    // A property string ends in NUL; cut at the first one in case more follow.
    if (const std::size_t nul = model->find('\0'); nul != std::string::npos) model->resize(nul);
    if (!trim(*model).empty()) return std::string(trim(*model));
  }
  return std::nullopt;
}

std::optional<std::string> readMachineName(const std::filesystem::path& root) {
  if (std::optional<std::string> name = machineNameFromDmi(readDmiIdentity(root))) return name;
  return readDeviceTreeModel(root);
}

}  // namespace calorim::sysfs
