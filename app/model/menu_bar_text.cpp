#include "app/model/menu_bar_text.h"

#include <algorithm>
#include <vector>

#include "app/model/number_text.h"
#include "app/model/strings.h"

namespace calorim::app {
namespace {

constexpr std::string_view kDegree = "\u00B0";
constexpr std::string_view kCharging = "\u26A1";
const std::string kAbsent = "\u2014";  // a figure that could not be measured
// Between two items: a space alone would let "SoC7.9W CPU21%" read as one word.
constexpr std::string_view kItemSeparator = " \u00B7 ";

std::string fixed(double v, int decimals, std::string_view suffix = {}) {
  std::string out = fixedDecimal(v, decimals);
  out.append(suffix);
  return out;
}

double ramFreeGB(const PowerSample& s) { return s.ramTotalGB - s.ramUsedGB; }

double ramFreePercent(const PowerSample& s) {
  return s.ramTotalGB > 0 ? (s.ramTotalGB - s.ramUsedGB) / s.ramTotalGB * 100 : 0;
}

}  // namespace

// ---- temperature unit -------------------------------------------------------

std::string_view rawValue(TempUnit unit) { return unit == TempUnit::fahrenheit ? "fahrenheit" : "celsius"; }

TempUnit tempUnitFromStored(std::string_view raw) {
  return raw == "fahrenheit" ? TempUnit::fahrenheit : TempUnit::celsius;
}

std::string format(TempUnit unit, double celsius) {
  std::string out = formatShort(unit, celsius);
  out.push_back(unit == TempUnit::fahrenheit ? 'F' : 'C');
  return out;
}

std::string formatShort(TempUnit unit, double celsius) { return fixed(convert(unit, celsius), 0, kDegree); }

// ---- items ------------------------------------------------------------------

std::string_view rawValue(MenuBarItem item) {
  switch (item) {
    case MenuBarItem::systemPower: return "systemPower";
    case MenuBarItem::socPower: return "socPower";
    case MenuBarItem::cpuPower: return "cpuPower";
    case MenuBarItem::gpuPower: return "gpuPower";
    case MenuBarItem::cpuUsage: return "cpuUsage";
    case MenuBarItem::gpuUsage: return "gpuUsage";
    case MenuBarItem::cpuTemp: return "cpuTemp";
    case MenuBarItem::gpuTemp: return "gpuTemp";
    case MenuBarItem::ramFreeGB: return "ramFreeGB";
    case MenuBarItem::ramFreePercent: return "ramFreePercent";
  }
  return {};
}

std::optional<MenuBarItem> menuBarItemFromRaw(std::string_view raw) {
  for (MenuBarItem item : kAllMenuBarItems) {
    if (rawValue(item) == raw) return item;
  }
  return std::nullopt;
}

QString label(MenuBarItem item) {
  return localized("mode." + std::string(rawValue(item)));
}

std::string_view fullPrefix(MenuBarItem item) {
  switch (item) {
    case MenuBarItem::systemPower: return "SYS";
    case MenuBarItem::socPower: return "SoC";
    case MenuBarItem::cpuPower:
    case MenuBarItem::cpuUsage:
    case MenuBarItem::cpuTemp: return "CPU";
    case MenuBarItem::gpuPower:
    case MenuBarItem::gpuUsage:
    case MenuBarItem::gpuTemp: return "GPU";
    case MenuBarItem::ramFreeGB:
    case MenuBarItem::ramFreePercent: return "RAM";
  }
  return {};
}

std::string_view shortPrefix(MenuBarItem item) {
  switch (item) {
    case MenuBarItem::systemPower: return "S";
    case MenuBarItem::socPower: return "T";
    case MenuBarItem::cpuPower:
    case MenuBarItem::cpuUsage:
    case MenuBarItem::cpuTemp: return "C";
    case MenuBarItem::gpuPower:
    case MenuBarItem::gpuUsage:
    case MenuBarItem::gpuTemp: return "G";
    case MenuBarItem::ramFreeGB:
    case MenuBarItem::ramFreePercent: return "R";
  }
  return {};
}

bool measuresEnergy(MenuBarItem item) {
  return item == MenuBarItem::socPower || item == MenuBarItem::cpuPower || item == MenuBarItem::gpuPower;
}

bool measuredOn(MenuBarItem item, const MachineDescription* machine) {
  if (machine == nullptr) return true;
  const MeasuredFigures& m = machine->measured;
  switch (item) {
    case MenuBarItem::socPower: return m.totalPower;
    case MenuBarItem::cpuPower: return m.cpuPower;
    case MenuBarItem::gpuPower: return m.gpuPower;
    case MenuBarItem::cpuUsage: return m.cpuUsage;
    case MenuBarItem::gpuUsage: return m.gpuUsage;
    case MenuBarItem::cpuTemp: return m.cpuTemp;
    case MenuBarItem::gpuTemp: return m.gpuTemp;
    case MenuBarItem::systemPower:
    case MenuBarItem::ramFreeGB:
    case MenuBarItem::ramFreePercent: return true;
  }
  return true;
}

namespace {

// Whether the sample's machine gives the item's figure; a stored choice the
// machine lacks is shown as absent and kept for a machine that has it.
bool measured(MenuBarItem item, const PowerSample& s) { return measuredOn(item, s.machine.get()); }

}  // namespace

std::string value(MenuBarItem item, const PowerSample& s, TempUnit unit) {
  if ((!s.hasPower && measuresEnergy(item)) || !measured(item, s)) return kAbsent;
  switch (item) {
    case MenuBarItem::systemPower:
      return s.isCharging ? fixed(s.systemPower, 1, std::string("W").append(kCharging)) : fixed(s.systemPower, 1, "W");
    case MenuBarItem::socPower: return fixed(s.total, 1, "W");
    case MenuBarItem::cpuPower: return fixed(s.cpu, 1, "W");
    case MenuBarItem::gpuPower: return fixed(s.gpu, 1, "W");
    case MenuBarItem::cpuUsage: return fixed(s.cpuUsage * 100, 0, "%");
    case MenuBarItem::gpuUsage: return fixed(s.gpuUsage * 100, 0, "%");
    case MenuBarItem::cpuTemp: return formatShort(unit, s.cpuTemp);
    case MenuBarItem::gpuTemp: return formatShort(unit, s.gpuTemp);
    case MenuBarItem::ramFreeGB: return fixed(ramFreeGB(s), 0, "G");
    case MenuBarItem::ramFreePercent: return fixed(ramFreePercent(s), 0, "%");
  }
  return {};
}

std::string minimalValue(MenuBarItem item, const PowerSample& s, TempUnit unit) {
  if ((!s.hasPower && measuresEnergy(item)) || !measured(item, s)) return kAbsent;
  switch (item) {
    case MenuBarItem::systemPower: return fixed(s.systemPower, 0);
    case MenuBarItem::socPower: return fixed(s.total, 0);
    case MenuBarItem::cpuPower: return fixed(s.cpu, 0);
    case MenuBarItem::gpuPower: return fixed(s.gpu, 0);
    case MenuBarItem::cpuUsage: return fixed(s.cpuUsage * 100, 0);
    case MenuBarItem::gpuUsage: return fixed(s.gpuUsage * 100, 0);
    case MenuBarItem::cpuTemp: return fixed(convert(unit, s.cpuTemp), 0);
    case MenuBarItem::gpuTemp: return fixed(convert(unit, s.gpuTemp), 0);
    case MenuBarItem::ramFreeGB: return fixed(ramFreeGB(s), 0);
    case MenuBarItem::ramFreePercent: return fixed(ramFreePercent(s), 0);
  }
  return {};
}

// ---- style ------------------------------------------------------------------

std::string_view rawValue(MenuBarStyle style) {
  switch (style) {
    case MenuBarStyle::full: return "full";
    case MenuBarStyle::shortForm: return "short";
    case MenuBarStyle::minimal: return "minimal";
  }
  return {};
}

MenuBarStyle menuBarStyleFromStored(std::string_view raw) {
  if (raw == "short") return MenuBarStyle::shortForm;
  if (raw == "minimal") return MenuBarStyle::minimal;
  return MenuBarStyle::full;
}

// ---- stored selection -------------------------------------------------------

MenuBarItemSet MenuBarConfig::defaultItems() { return {MenuBarItem::socPower}; }

MenuBarItemSet MenuBarConfig::load(std::string_view stored) {
  MenuBarItemSet items;
  while (true) {
    const std::size_t comma = stored.find(',');
    if (auto item = menuBarItemFromRaw(stored.substr(0, comma))) items.insert(*item);
    if (comma == std::string_view::npos) break;
    stored.remove_prefix(comma + 1);
  }
  return items.empty() ? defaultItems() : items;
}

std::string MenuBarConfig::save(const MenuBarItemSet& items) {
  std::vector<std::string_view> names;
  names.reserve(items.size());
  for (MenuBarItem item : items) names.push_back(rawValue(item));
  std::sort(names.begin(), names.end());
  std::string out;
  for (std::string_view name : names) {
    if (!out.empty()) out.push_back(',');
    out.append(name);
  }
  return out;
}

// ---- the line ---------------------------------------------------------------

std::string menuBarText(const PowerSample& sample, std::string_view storedItems, std::string_view storedStyle,
                        std::string_view storedUnit) {
  const MenuBarStyle style = menuBarStyleFromStored(storedStyle);
  const TempUnit unit = tempUnitFromStored(storedUnit);
  const MenuBarItemSet items = MenuBarConfig::load(storedItems);  // already in declaration order
  const bool single = items.size() == 1;

  std::string text;
  std::size_t shown = 0;
  for (MenuBarItem item : items) {
    if (shown++ == MenuBarConfig::kMaxShown) break;
    if (!text.empty()) text.append(kItemSeparator);
    switch (style) {
      case MenuBarStyle::full:
        text.append(fullPrefix(item));
        if (single) text.push_back(' ');
        text.append(value(item, sample, unit));
        break;
      case MenuBarStyle::shortForm:
        text.append(shortPrefix(item));
        text.append(value(item, sample, unit));
        break;
      case MenuBarStyle::minimal:
        text.append(minimalValue(item, sample, unit));
        break;
    }
  }
  return text;
}

PowerSample styleExampleSample() {
  PowerSample s = PowerSample::zero({});
  s.hasPower = true;
  s.systemPower = 12.4;
  s.total = 7.8;
  s.cpu = 5.2;
  s.gpu = 1.1;
  s.cpuUsage = 0.21;
  s.gpuUsage = 0.08;
  s.cpuTemp = 47;
  s.gpuTemp = 41;
  s.ramTotalGB = 16;
  s.ramUsedGB = 9.6;
  return s;
}

std::string styleExample(MenuBarStyle style, std::string_view storedItems, std::string_view storedUnit,
                         std::shared_ptr<const MachineDescription> machine) {
  PowerSample example = styleExampleSample();
  example.machine = std::move(machine);
  return menuBarText(example, storedItems, rawValue(style), storedUnit);
}

}  // namespace calorim::app
