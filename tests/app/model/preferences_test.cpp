#include "app/model/preferences.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>

namespace calorim::app {
namespace {

// Each test starts from empty settings (the test main points them at a temporary folder).
class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override { stored().clear(); }
  static QSettings& stored() {
    static QSettings settings(QStringLiteral("Calorim"), QStringLiteral("Calorim"));
    return settings;
  }
};

TEST_F(PreferencesTest, DefaultsAndInvalidValuesReadWithFallbacks) {
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
  stored().setValue(Preferences::kMenuBarItemsKey, QStringList{QStringLiteral("cpuTemp"), QStringLiteral("socPower")});
  stored().sync();
  Preferences third;
  EXPECT_EQ(third.menuBarItemsRaw(), QStringLiteral("cpuTemp,socPower"));
}

TEST_F(PreferencesTest, EveryChangeIsSignalledOnceAndStoredInItsTextForm) {
  Preferences prefs;
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
  stored().sync();
  EXPECT_EQ(stored().value(Preferences::kTempUnitKey).toString(), QStringLiteral("fahrenheit"));
  EXPECT_EQ(stored().value(Preferences::kMenuBarItemsKey).toString(), QStringLiteral("cpuTemp,gpuPower,socPower"));
  EXPECT_EQ(prefs.menuBarStyleRaw(), QStringLiteral("full"));
}

}  // namespace
}  // namespace calorim::app
