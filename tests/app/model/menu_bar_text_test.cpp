#include "app/model/menu_bar_text.h"
#include "app/model/number_text.h"
#include "app/model/preferences.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>

#include <limits>

#include <clocale>
#include <cstdio>
#include <string>

#include "app/model/strings.h"
#include "tests/app/app_test_support.h"

namespace calorim::app {
namespace {

// The simulated laptop's sample with its CPU at 48.4 °C, charging, with 6.4 of 16 GB in use.
PowerSample busyLaptop() {
  PowerSample s = testing::sampleWith(48.4);
  s.systemPower = 12.4;
  s.isCharging = true;
  s.ramTotalGB = 16;
  s.ramUsedGB = 6.4;
  return s;
}

TEST(MenuBarText, WrittenFromTheStoredPreferences) {
  const PowerSample zero = PowerSample::zero({});
  const PowerSample busy = busyLaptop();
  const PowerSample warm = testing::sampleWith(50);
  PowerSample noRam = warm;
  noRam.ramUsedGB = 3;
  PowerSample unmeasured = busy;
  unmeasured.hasPower = false;
  struct Case {
    const PowerSample* sample;
    const char* items;
    const char* style;
    const char* unit;
    std::string expected;
  };
  const Case cases[] = {
      // Nothing stored: the SoC item alone, in full style, with a space.
      {&zero, "", "full", "celsius", "SoC 0.0W"},
      {&busy, "", "full", "celsius", "SoC 5.6W"},
      // Two or more items in full style: no space inside a part, a dot between parts.
      {&busy, "socPower,cpuPower", "full", "celsius", "SoC5.6W \u00B7 CPU3.4W"},
      {&busy, "socPower,cpuPower", "short", "celsius", "T5.6W \u00B7 C3.4W"},
      {&busy, "socPower,cpuPower", "minimal", "celsius", "6 \u00B7 3"},
      // Empty and unknown pieces are dropped; nothing left means the default.
      {&busy, "gpuPower,,bogus,cpuPower", "full", "celsius", "CPU3.4W \u00B7 GPU1.1W"},
      {&busy, "bogus", "full", "celsius", "SoC 5.6W"},
      {&busy, " cpuPower", "full", "celsius", "SoC 5.6W"},
      // Four stored: the first three in declaration order.
      {&busy, "ramFreeGB,gpuTemp,cpuPower,socPower", "full", "celsius", "SoC5.6W \u00B7 CPU3.4W \u00B7 GPU42\u00B0"},
      // Charging mark in full and short, none in minimal.
      {&busy, "systemPower,cpuUsage", "full", "celsius", "SYS12.4W\u26A1 \u00B7 CPU23%"},
      {&busy, "systemPower,cpuUsage", "short", "celsius", "S12.4W\u26A1 \u00B7 C23%"},
      {&busy, "systemPower,cpuUsage", "minimal", "celsius", "12 \u00B7 23"},
      {&busy, "systemPower", "full", "celsius", "SYS 12.4W\u26A1"},
      {&busy, "gpuUsage,gpuTemp", "short", "celsius", "G8% \u00B7 G42\u00B0"},
      {&busy, "ramFreeGB,ramFreePercent", "full", "celsius", "RAM10G \u00B7 RAM60%"},
      {&busy, "ramFreeGB,ramFreePercent", "minimal", "celsius", "10 \u00B7 60"},
      // No installed memory known: 0, not a division by zero.
      {&noRam, "ramFreePercent", "full", "celsius", "RAM 0%"},
      {&noRam, "ramFreePercent", "minimal", "celsius", "0"},
      // Fahrenheit, and the fallbacks of style and unit.
      {&warm, "cpuTemp", "full", "fahrenheit", "CPU 122\u00B0"},
      {&warm, "cpuTemp", "short", "fahrenheit", "C122\u00B0"},
      {&warm, "cpuTemp", "minimal", "fahrenheit", "122"},
      {&warm, "cpuTemp", "Full", "Fahrenheit", "CPU 50\u00B0"},
      {&warm, "cpuTemp", "", "", "CPU 50\u00B0"},
      // Without energy counters the chip's, CPU's and GPU's power are absent;
      // the battery's figures, load and temperatures stay.
      {&unmeasured, "socPower,cpuPower,gpuPower", "full", "celsius", "SoC\u2014 \u00B7 CPU\u2014 \u00B7 GPU\u2014"},
      {&unmeasured, "socPower", "minimal", "celsius", "\u2014"},
      {&unmeasured, "systemPower,cpuUsage,cpuTemp", "short", "celsius", "S12.4W\u26A1 \u00B7 C23% \u00B7 C48\u00B0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(menuBarText(*c.sample, c.items, c.style, c.unit), c.expected)
        << "items '" << c.items << "', style '" << c.style << "', unit '" << c.unit << "'";
  }
}

TEST(MenuBarText, StyleExamplesAreTheLinesTheMenuBarShows) {
  struct Case {
    MenuBarStyle style;
    const char* items;
    const char* unit;
    std::string expected;
  };
  const Case cases[] = {
      // The default item: the chip's power, not the adapter's.
      {MenuBarStyle::full, "", "celsius", "SoC 7.8W"},
      {MenuBarStyle::shortForm, "", "celsius", "T7.8W"},
      {MenuBarStyle::minimal, "", "celsius", "8"},
      // The chosen items in their order, the chosen unit.
      {MenuBarStyle::full, "cpuTemp,systemPower", "fahrenheit", "SYS12.4W \u00B7 CPU117\u00B0"},
      {MenuBarStyle::shortForm, "ramFreeGB,gpuUsage", "celsius", "G8% \u00B7 R6G"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(styleExample(c.style, c.items, c.unit), c.expected) << c.items << " " << rawValue(c.style);
  }
}

TEST(MenuBarText, NumbersAsPrintfWritesThemInTheCLocale) {
  // Ties and near-ties round as printf rounds the binary value.
  for (double v : {0.05, 0.15, 0.25, 2.25, 2.35, 12.45, 0.5, 1.5, 2.5, -1.25, 999.95, 1e6 + 0.05}) {
    char one[64];
    char none[64];
    std::snprintf(one, sizeof one, "%.1fW", v);
    std::snprintf(none, sizeof none, "%.0f", v);
    PowerSample s = PowerSample::zero({});
    s.cpu = v;
    EXPECT_EQ(value(MenuBarItem::cpuPower, s, TempUnit::celsius), one) << v;
    EXPECT_EQ(minimalValue(MenuBarItem::cpuPower, s, TempUnit::celsius), none) << v;
  }

  // A decimal comma in the user's locale changes nothing.
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  bool german = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      german = true;
      break;
    }
  }
  EXPECT_EQ(menuBarText(busyLaptop(), "socPower,cpuPower", "full", "celsius"), "SoC5.6W \u00B7 CPU3.4W");
  EXPECT_EQ(format(TempUnit::fahrenheit, 36.6), "98\u00B0F");
  std::setlocale(LC_ALL, saved.c_str());
  if (!german) std::printf("No German locale installed; the C-locale formatting was checked alone.\n");
}

TEST(NumberText, PrintfRoundingAndNoNegativeZero) {
  struct Case {
    double v;
    int decimals;
    const char* text;
  };
  const Case cases[] = {
      {0.125, 2, "0.12"},  {12.5, 0, "12"},   {45.25, 1, "45.2"},   {31.25, 1, "31.2"},  {2.675, 2, "2.67"},
      {0.375, 2, "0.38"},  {13.5, 0, "14"},   {-2.5, 0, "-2"},      {1e21, 0, "1000000000000000000000"},
      {-0.0, 2, "0.00"},   {-0.0, 0, "0"},    {-0.004, 2, "0.00"},  {-0.4, 0, "0"},      {-0.5, 0, "0"},
      {-0.005, 2, "-0.01"}, {-1e-300, 3, "0.000"},
      {std::numeric_limits<double>::infinity(), 1, "inf"}, {-std::numeric_limits<double>::infinity(), 0, "-inf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fixedDecimal(c.v, c.decimals), c.text) << c.v << " at " << c.decimals;
    EXPECT_EQ(fixedText(c.v, c.decimals).toStdString(), c.text) << c.v;
  }
  EXPECT_EQ(fixedDecimal(-1.7976931348623157e308, 2).size(), 313u);  // the widest value fits whole
  EXPECT_EQ(integerText(std::numeric_limits<std::int64_t>::min()).toStdString(), "-9223372036854775808");

  // The tray writes a tie as the panel and the detail window do.
  PowerSample s = PowerSample::zero({});
  s.cpuUsage = 0.125;
  EXPECT_EQ(value(MenuBarItem::cpuUsage, s, TempUnit::celsius), "12%");
}

TEST(TempUnit, FormatsAndStoredForms) {
  EXPECT_EQ(format(TempUnit::celsius, 50), "50\u00B0C");
  EXPECT_EQ(format(TempUnit::fahrenheit, 50), "122\u00B0F");
  EXPECT_EQ(formatShort(TempUnit::celsius, 70.5), "70\u00B0");  // printf: ties to even
  EXPECT_EQ(formatShort(TempUnit::celsius, -40), "-40\u00B0");
  EXPECT_EQ(formatShort(TempUnit::fahrenheit, -40), "-40\u00B0");

  EXPECT_EQ(rawValue(MenuBarStyle::shortForm), "short");
}

TEST(MenuBarConfig, LoadAndSave) {
  using enum MenuBarItem;
  EXPECT_EQ(MenuBarConfig::defaultItems(), MenuBarItemSet{socPower});
  EXPECT_EQ(MenuBarConfig::load(",,"), MenuBarConfig::defaultItems());
  EXPECT_EQ(MenuBarConfig::load("CPUPOWER,cpuPower "), MenuBarConfig::defaultItems());
  EXPECT_EQ(MenuBarConfig::save({socPower, cpuTemp, gpuPower}), "cpuTemp,gpuPower,socPower");
  EXPECT_EQ(MenuBarConfig::save({ramFreePercent, ramFreeGB, systemPower}), "ramFreeGB,ramFreePercent,systemPower");

  // Every item survives a round trip, and its raw value names it.
  for (MenuBarItem item : kAllMenuBarItems) {
    EXPECT_EQ(MenuBarConfig::load(MenuBarConfig::save({item})), MenuBarItemSet{item});
    EXPECT_EQ(menuBarItemFromRaw(rawValue(item)), item);
  }
  // The first eight labels come from the text table, the memory ones are fixed.
  EXPECT_EQ(label(cpuTemp), localized("mode.cpuTemp"));
  EXPECT_NE(label(cpuTemp), QStringLiteral("mode.cpuTemp"));
  EXPECT_EQ(label(ramFreePercent), QStringLiteral("Free RAM (%)"));
}

// The test main points the settings at a temporary folder.
TEST(Preferences, FallbacksSignalsAndTheStoredTextForm) {
  QSettings stored(QStringLiteral("Calorim"), QStringLiteral("Calorim"));
  stored.clear();
  Preferences prefs;
  EXPECT_EQ(prefs.menuBarItemsRaw(), QString());
  EXPECT_EQ(prefs.menuBarStyleRaw(), QStringLiteral("full"));
  EXPECT_EQ(prefs.tempUnitRaw(), QStringLiteral("celsius"));
  EXPECT_EQ(prefs.menuBarItems(), MenuBarConfig::defaultItems());

  prefs.setMenuBarStyleRaw(QStringLiteral("Full"));
  prefs.setTempUnitRaw(QStringLiteral("kelvin"));
  prefs.setMenuBarItemsRaw(QStringLiteral("bogus,,gpuTemp,GPUTEMP"));
  // A second reader of the same store sees exactly what was written.
  Preferences again;
  EXPECT_EQ(again.menuBarStyleRaw(), QStringLiteral("Full"));
  EXPECT_EQ(again.tempUnitRaw(), QStringLiteral("kelvin"));
  EXPECT_EQ(again.menuBarItemsRaw(), QStringLiteral("bogus,,gpuTemp,GPUTEMP"));
  EXPECT_EQ(again.menuBarStyle(), MenuBarStyle::full);
  EXPECT_EQ(again.tempUnit(), TempUnit::celsius);
  EXPECT_EQ(again.menuBarItems(), MenuBarItemSet{MenuBarItem::gpuTemp});
  prefs.setMenuBarItemsRaw(QStringLiteral("bogus"));
  EXPECT_EQ(prefs.menuBarItems(), MenuBarConfig::defaultItems());

  // A hand-edited file with an unquoted list reads as its comma-joined text.
  stored.setValue(Preferences::kMenuBarItemsKey, QStringList{QStringLiteral("cpuTemp"), QStringLiteral("socPower")});
  stored.sync();
  EXPECT_EQ(Preferences().menuBarItemsRaw(), QStringLiteral("cpuTemp,socPower"));

  // Every change is signalled once and stored in its text form.
  QSignalSpy items(&prefs, &Preferences::menuBarItemsChanged);
  QSignalSpy style(&prefs, &Preferences::menuBarStyleChanged);
  QSignalSpy unit(&prefs, &Preferences::tempUnitChanged);
  prefs.setTempUnit(TempUnit::fahrenheit);
  prefs.setTempUnit(TempUnit::fahrenheit);  // no change, no signal
  prefs.setMenuBarStyle(MenuBarStyle::shortForm);
  prefs.setMenuBarItems({MenuBarItem::socPower, MenuBarItem::cpuTemp, MenuBarItem::gpuPower});
  prefs.setMenuBarStyleRaw(QStringLiteral("full"));
  EXPECT_EQ(unit.count(), 1);
  EXPECT_EQ(style.count(), 2);
  EXPECT_EQ(items.count(), 1);
  stored.sync();
  EXPECT_EQ(stored.value(Preferences::kTempUnitKey).toString(), QStringLiteral("fahrenheit"));
  EXPECT_EQ(stored.value(Preferences::kMenuBarItemsKey).toString(), QStringLiteral("cpuTemp,gpuPower,socPower"));
  EXPECT_EQ(prefs.menuBarStyleRaw(), QStringLiteral("full"));
}

}  // namespace
}  // namespace calorim::app
