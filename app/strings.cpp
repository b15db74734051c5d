#include "app/strings.h"

#include <algorithm>
#include <array>
#include <utility>

namespace calorim::app {
namespace {

using Entry = std::pair<std::string_view, std::string_view>;

// Sorted by key, for the binary search below.
constexpr std::array kTable = {
    Entry{"app.name", "Calorim"},
    Entry{"error.initFailed", "Power metrics could not be started, so no live figures are available."},
    Entry{"menu.celsius", "Celsius (\u00B0C)"},
    Entry{"menu.fahrenheit", "Fahrenheit (\u00B0F)"},
    // One placeholder: the fan's index.
    Entry{"menu.fan", "Fan %1"},
    Entry{"menu.openDetail", "Open Detail Window"},
    Entry{"menu.quit", "Quit Calorim"},
    Entry{"menu.settings", "Settings\u2026"},
    Entry{"menu.total", "Total"},
    Entry{"mode.cpuPower", "CPU Power"},
    Entry{"mode.cpuTemp", "CPU Temperature"},
    Entry{"mode.cpuUsage", "CPU Usage"},
    Entry{"mode.gpuPower", "GPU Power"},
    Entry{"mode.gpuTemp", "GPU Temperature"},
    Entry{"mode.gpuUsage", "GPU Usage"},
    Entry{"mode.socPower", "SoC Power"},
    Entry{"mode.systemPower", "System Power"},
    Entry{"settings.menuBarDisplay", "Menu Bar Display"},
    Entry{"settings.tempUnit", "Temperature Unit"},
    Entry{"settings.title", "Calorim Settings"},
};

constexpr bool sortedByKey() {
  for (std::size_t i = 1; i < kTable.size(); ++i) {
    if (!(kTable[i - 1].first < kTable[i].first)) return false;
  }
  return true;
}
static_assert(sortedByKey(), "keep the text table sorted by key");

QString fromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

QString localized(std::string_view key) {
  const auto it = std::lower_bound(kTable.begin(), kTable.end(), key,
                                   [](const Entry& e, std::string_view k) { return e.first < k; });
  if (it != kTable.end() && it->first == key) return fromUtf8(it->second);
  return fromUtf8(key);
}

}  // namespace calorim::app
