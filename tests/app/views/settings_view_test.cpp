// The settings window: the item checkboxes and their at-most-three rule, the
// unit segments, the style buttons and the launch-at-login toggle, driven by
// clicks and checked against the stored preferences.

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/model/preferences.h"
#include "app/views/settings_view.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

class FakeLoginItem final : public LoginItem {
 public:
  [[nodiscard]] bool isEnabled() const override { return enabled; }
  bool setEnabled(bool on) override {
    ++writes;
    if (failing) return false;
    enabled = on;
    return true;
  }

  bool enabled = false;
  bool failing = false;
  int writes = 0;
};

QString raw(MenuBarItem item) { return QString::fromUtf8(rawValue(item).data(), rawValue(item).size()); }

// The settings view with the boxes at hand.
struct Rig {
  explicit Rig(const QString& storedItems = QString(), bool registered = false) {
    if (!storedItems.isNull()) preferences.setMenuBarItemsRaw(storedItems);
    loginItem.enabled = registered;
    view = std::make_unique<SettingsView>(preferences, loginItem);
  }

  QCheckBox* box(MenuBarItem item) const {
    return view->findChild<QCheckBox*>(QStringLiteral("item_") + raw(item));
  }
  template <typename T = QAbstractButton>
  T* button(const char* name) const {
    return view->findChild<T*>(QLatin1String(name));
  }
  void click(QAbstractButton* b) const { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2)); }
  void click(MenuBarItem item) const { click(box(item)); }
  [[nodiscard]] bool formIs(const char* golden) const {
    const QString path = QStringLiteral(GOLDEN_DIR "/") + QLatin1String(golden);
    return testing::matchesGolden(path, testing::widgetTree(view.get()));
  }

  Preferences preferences;
  FakeLoginItem loginItem;
  std::unique_ptr<SettingsView> view;
};

}  // namespace

class SettingsViewTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private slots:
  void initTestCase() { QVERIFY(testing::openSourceStringBundle()); }
  void init() { testing::clearPreferences(); }

  void defaultsAndTheAtMostThreeRule() {
    {
      Rig rig;
      // Unticking the only item keeps it ticked.
      rig.click(MenuBarItem::socPower);
      QVERIFY(rig.formIs("settings_defaults.txt"));
      QCOMPARE(rig.preferences.menuBarItemsRaw(), QStringLiteral("socPower"));
      // Three ticked: the rest disabled, and a click on one of them changes nothing.
      rig.click(MenuBarItem::gpuPower);
      rig.click(MenuBarItem::cpuTemp);
      rig.click(MenuBarItem::ramFreeGB);
      QVERIFY(rig.formIs("settings_three_items.txt"));
      QCOMPARE(rig.preferences.menuBarItemsRaw(), QStringLiteral("cpuTemp,gpuPower,socPower"));
      rig.click(MenuBarItem::gpuPower);
      QVERIFY(rig.box(MenuBarItem::ramFreeGB)->isEnabled());
    }
    // Four stored (written by hand): all shown, the rest disabled until three are left.
    Rig rig(QStringLiteral("ramFreeGB,gpuTemp,cpuPower,socPower"));
    QVERIFY(rig.formIs("settings_four_stored.txt"));
    rig.click(MenuBarItem::ramFreeGB);
    QCOMPARE(rig.preferences.menuBarItemsRaw(), QStringLiteral("cpuPower,gpuTemp,socPower"));
    QVERIFY(!rig.box(MenuBarItem::ramFreeGB)->isEnabled());
    // Unticking the only item left falls back to the default.
    Rig single(QStringLiteral("cpuPower"));
    single.click(MenuBarItem::cpuPower);
    QVERIFY(single.box(MenuBarItem::socPower)->isChecked() && !single.box(MenuBarItem::cpuPower)->isChecked());
  }

  void unitAndStyleAreStoredAtOnce() {
    Rig rig;
    rig.click(rig.button("fahrenheitSegment"));
    QCOMPARE(rig.preferences.tempUnitRaw(), QStringLiteral("fahrenheit"));
    QVERIFY(!rig.button("celsiusSegment")->isChecked());
    rig.click(rig.button("style_minimal"));
    QCOMPARE(rig.preferences.menuBarStyleRaw(), QStringLiteral("minimal"));
    rig.click(rig.button("style_short"));
    QCOMPARE(rig.preferences.menuBarStyleRaw(), QStringLiteral("short"));

    // Stored texts outside the raw values show their fallbacks.
    rig.preferences.setTempUnitRaw(QStringLiteral("Fahrenheit"));
    rig.preferences.setMenuBarStyleRaw(QStringLiteral("Full"));
    QVERIFY(rig.button("celsiusSegment")->isChecked());
    QVERIFY(rig.button("style_full")->isChecked());
  }

  void launchAtLoginShowsTheRealState() {
    Rig rig;
    QVERIFY(!rig.button("launchAtLogin")->isChecked());
    rig.click(rig.button("launchAtLogin"));
    QVERIFY(rig.loginItem.enabled);
    QVERIFY(rig.button("launchAtLogin")->isChecked());

    // Registered elsewhere: seen when the window is made again.
    FakeLoginItem registered;
    registered.enabled = true;
    SettingsView again(rig.preferences, registered);
    auto* toggle = again.findChild<QCheckBox*>(QStringLiteral("launchAtLogin"));
    QVERIFY(toggle->isChecked());
    // A removal that fails leaves the toggle on, as the registration is.
    registered.failing = true;
    QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(6, toggle->height() / 2));
    QCOMPARE(registered.writes, 1);
    QVERIFY(toggle->isChecked());
  }

  void screenshot() {
    Rig rig(QStringLiteral("cpuTemp,gpuPower,socPower"), /*registered=*/true);
    rig.view->setFixedSize(SettingsView::kWidth, SettingsView::kHeight);
    rig.view->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.view.get()));
    QCOMPARE(rig.view->size(), QSize(320, 400));
    // The window is narrower than the form would like only vertically.
    for (QAbstractButton* b : rig.view->findChildren<QAbstractButton*>()) {
      QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->text()));
    }
    QVERIFY(testing::saveScreenshot(rig.view->grab(), QStringLiteral("settings.png")));
    // The form is taller than the window: its lower half, scrolled to.
    auto* scroll = rig.view->findChild<QScrollArea*>();
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QVERIFY(scroll->verticalScrollBar()->maximum() > 0);
    QVERIFY(testing::saveScreenshot(rig.view->grab(), QStringLiteral("settings_scrolled.png")));
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::SettingsViewTest)
#include "settings_view_test.moc"
