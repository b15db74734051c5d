#pragma once
// USB Power Delivery capabilities (sys/class/usb_power_delivery/pdN).
//
// A PD object lists power data objects (PDOs) in `source-capabilities/` and
// `sink-capabilities/`, one folder per PDO named `<position>:<type>` with
// position 1-based in message order and type `fixed_supply`,
// `variable_supply`, `battery` or `programmable_supply`. Every value carries its
// unit: "5000mV", "3000mA", "45000mW".
//
// The charger's offers live in the PD object of the Type-C partner
// (sys/class/typec/portN-partner/usb_power_delivery); the port's own object
// holds what the machine itself offers and asks for.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace calorim::sysfs {

enum class PdoKind { fixedSupply, variableSupply, battery, programmableSupply };

struct Pdo {
  int position = 0;  // 1-based, as in the PD message
  PdoKind kind = PdoKind::fixedSupply;
  std::int64_t maxVoltageMv = 0;               // the fixed voltage, or the top of the range
  std::optional<std::int64_t> minVoltageMv;    // bottom of the range; absent for fixed supplies
  std::int64_t maxCurrentMa = 0;               // for a battery PDO: its power at the top voltage

  // The most this PDO delivers, in mW (voltage × current).
  [[nodiscard]] std::int64_t maxPowerMw() const { return maxVoltageMv * maxCurrentMa / 1000; }
  bool operator==(const Pdo&) const = default;
};

// "3:variable_supply" → (3, variableSupply). Absent for another shape, a
// position below 1 or an unknown type. Pure.
[[nodiscard]] std::optional<std::pair<int, PdoKind>> parsePdoFolderName(std::string_view name);

// "5000mV" with suffix "mV" → 5000. Absent when the suffix differs, the number
// is missing or negative, or it exceeds 10^9 (no PDO comes near). Pure.
[[nodiscard]] std::optional<std::int64_t> parseUnitValue(std::string_view text, std::string_view suffix);

// The PDOs of `<pdDir>/<capabilities>` ("source-capabilities",
// "sink-capabilities") by position; a PDO without its voltage or its
// current/power is left out. Empty when the folder is missing.
[[nodiscard]] std::vector<Pdo> readCapabilities(const std::filesystem::path& pdDir, std::string_view capabilities);

// The source capabilities of the charger the machine is sinking from: the
// partner's PD object of the first Type-C port whose power role is sink and
// whose partner offers PDOs; without Type-C links, the first PD object that
// offers power and asks for none. Empty when none is found.
[[nodiscard]] std::vector<Pdo> readChargerPdos(const std::filesystem::path& root);

}  // namespace calorim::sysfs
