#include "app/model/preferences.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>

namespace calorim::app {
namespace {

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
