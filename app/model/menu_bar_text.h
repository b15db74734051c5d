#pragma once
// The line of text the application shows in the menu bar: the metrics that can
// be chosen (`MenuBarItem`), the three ways of writing them (`MenuBarStyle`),
// the stored selection (`MenuBarConfig`), the temperature unit's stored form and
// the text builder `menuBarText`.
//
// All numbers are written as printf's "%.1f"/"%.0f" would write them in the C
// locale, whatever locale the process runs in. Texts are UTF-8.

#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "app/model/power_sample.h"
#include "core/base/number_text.h"

namespace calorim::app {

// "celsius" or "fahrenheit".
[[nodiscard]] std::string_view rawValue(TempUnit unit);
// The unit stored as `raw`: `fahrenheit` only for exactly "fahrenheit", `celsius` for any other text.
[[nodiscard]] TempUnit tempUnitFromStored(std::string_view raw);
// "%.0f°C" or "%.0f°F" of the converted value, e.g. "50°C", "122°F".
[[nodiscard]] std::string format(TempUnit unit, double celsius);
// "%.0f°" of the converted value, without the letter.
[[nodiscard]] std::string formatShort(TempUnit unit, double celsius);

// Declaration order is the order of the settings list and of the items in the
// menu bar. The raw value of each case is its name.
enum class MenuBarItem {
  systemPower,
  socPower,
  cpuPower,
  gpuPower,
  cpuUsage,
  gpuUsage,
  cpuTemp,
  gpuTemp,
  ramFreeGB,
  ramFreePercent,
};

inline constexpr std::array kAllMenuBarItems = {
    MenuBarItem::systemPower, MenuBarItem::socPower, MenuBarItem::cpuPower, MenuBarItem::gpuPower,
    MenuBarItem::cpuUsage,    MenuBarItem::gpuUsage, MenuBarItem::cpuTemp,  MenuBarItem::gpuTemp,
    MenuBarItem::ramFreeGB,   MenuBarItem::ramFreePercent,
};

[[nodiscard]] std::string_view rawValue(MenuBarItem item);
// The item whose raw value is exactly `raw` (case-sensitive, untrimmed); absent for any other text.
[[nodiscard]] std::optional<MenuBarItem> menuBarItemFromRaw(std::string_view raw);
// The settings label: the display text of the item's "mode." key; the two
// memory items have fixed English labels.
[[nodiscard]] QString label(MenuBarItem item);
[[nodiscard]] std::string_view fullPrefix(MenuBarItem item);   // "SYS", "SoC", "CPU", ...
[[nodiscard]] std::string_view shortPrefix(MenuBarItem item);  // "S", "T", "C", ...
// Whether the item is measured by the energy counters (the chip's, the CPU's and the GPU's power).
[[nodiscard]] bool measuresEnergy(MenuBarItem item);
// Whether `machine` gives the item's figure; every item while the machine is
// not known yet (null). Memory and system power are always offered.
[[nodiscard]] bool measuredOn(MenuBarItem item, const MachineDescription* machine);

// The value as the full and short styles write it ("12.3W", "45%", "50°", "12G");
// "—" for an energy item of a sample without power figures.
[[nodiscard]] std::string value(MenuBarItem item, const PowerSample& sample, TempUnit unit);
// The value as the minimal style writes it: the number alone ("12", "45"), or "—".
[[nodiscard]] std::string minimalValue(MenuBarItem item, const PowerSample& sample, TempUnit unit);

// The enumerator for "short" cannot carry its raw value's name, a C++ keyword.
enum class MenuBarStyle { full, shortForm, minimal };

inline constexpr std::array kAllMenuBarStyles = {MenuBarStyle::full, MenuBarStyle::shortForm, MenuBarStyle::minimal};

// "full", "short" or "minimal".
[[nodiscard]] std::string_view rawValue(MenuBarStyle style);
// The style stored as `raw`; any text other than the three raw values counts as `full`.
[[nodiscard]] MenuBarStyle menuBarStyleFromStored(std::string_view raw);

using MenuBarItemSet = std::set<MenuBarItem>;  // ordered by declaration order

// The stored selection of menu-bar items.
struct MenuBarConfig {
  // At most this many items are shown (and may be ticked in the settings).
  static constexpr std::size_t kMaxShown = 3;

  // The selection when nothing usable is stored: `socPower` alone.
  [[nodiscard]] static MenuBarItemSet defaultItems();
  // Splits `stored` at every ",", drops empty pieces and pieces that name no
  // item; `defaultItems()` when nothing is left.
  [[nodiscard]] static MenuBarItemSet load(std::string_view stored);
  // The raw values of `items` in ascending text order, joined with ",".
  [[nodiscard]] static std::string save(const MenuBarItemSet& items);
};

// The menu-bar line for `sample` and the three stored preferences, as stored
// (raw texts, with their fallbacks applied here): the first three chosen items
// in declaration order, each written in the style, joined by " · ".
// In the full style a single chosen item gets a space between prefix and value
// ("SoC 4.2W"). Pure; never throws except std::bad_alloc.
[[nodiscard]] std::string menuBarText(const PowerSample& sample, std::string_view storedItems,
                                      std::string_view storedStyle, std::string_view storedUnit);

// A fixed sample of plausible figures (12.4 W from the adapter, 7.8 W for
// the chip, 47° on the CPU, ...) for showing what a style looks like.
[[nodiscard]] PowerSample styleExampleSample();
// What the menu bar shows in `style` for the stored items and unit, written
// from `styleExampleSample` by `menuBarText` itself, so the settings'
// examples never differ from the real line: on `machine` (when known) an
// item it does not measure shows "—", as it will in the menu bar.
[[nodiscard]] std::string styleExample(MenuBarStyle style, std::string_view storedItems, std::string_view storedUnit,
                                       std::shared_ptr<const MachineDescription> machine = nullptr);

}  // namespace calorim::app
