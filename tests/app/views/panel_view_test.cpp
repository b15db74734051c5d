// The menu-bar panel on samples published through the live monitor: the
// rows and their colours, the fan rows, the update link, the buttons' actions
// and shortcuts, and a screenshot on the simulated laptop.

#include <QLabel>
#include <QTest>

#include <cmath>

#include "app/model/live_monitor.h"
#include "app/model/preferences.h"
#include "app/model/strings.h"
#include "app/views/panel_view.h"
#include "app/views/temperature_colour.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

using testing::SimulatedRig;

QWidget* part(QWidget* panel, const char* name) {
  QWidget* found = panel->findChild<QWidget*>(QLatin1String(name));
  if (found == nullptr) qFatal("no part named %s", name);
  return found;
}

bool shown(QWidget* panel, const char* name) { return part(panel, name)->isVisibleTo(panel); }

}  // namespace

// One panel on a monitor that publishes only what each test hands it.
class PanelViewTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private slots:
  void initTestCase() {
    QVERIFY(testing::openSourceStringBundle());
    testing::clearPreferences();
    actions.openWindow = [this](const QString& id) { calls << QStringLiteral("open ") + id; };
    actions.showApplication = [this] {
      calls << (monitor->isPaused() ? QStringLiteral("regular, paused") : QStringLiteral("regular"));
    };
    actions.bringToFront = [this] { calls << QStringLiteral("front"); };
    actions.quit = [this] { calls << QStringLiteral("quit"); };
    panel = std::make_unique<MenuBarPanel>(*monitor, preferences, actions);
    panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
  }
  void init() { preferences.setTempUnitRaw(QStringLiteral("celsius")); }

  void rowsOfEachSample() {
    QCOMPARE(panel->width(), MenuBarPanel::kWidth);
    // The zero sample: the neural engine and DRAM have no load, so their box
    // takes no room; no fans.
    QVERIFY(pageIs("panel_zero.txt"));
    // Every box is as wide, so the watts line up with the CPU's all the same.
    const auto wattsRight = [&](const char* row) {
      QWidget* watts = part(part(panel.get(), row), "watts");
      return watts->mapTo(panel.get(), QPoint(watts->width(), 0)).x();
    };
    QCOMPARE(wattsRight("aneRow"), wattsRight("cpuRow"));
    QCOMPARE(wattsRight("dramRow"), wattsRight("gpuRow"));
    const int heightWithoutFans = panel->height();

    monitor->publish(testing::sampleWith(50, {FanInfo(0, 999.9), FanInfo(2, 1302.4)}));
    QTRY_VERIFY(panel->height() > heightWithoutFans);
    // A new unit redraws at once.
    preferences.setTempUnitRaw(QStringLiteral("fahrenheit"));
    QVERIFY(pageIs("panel_fans_fahrenheit.txt"));

    // No reading leaves the temperature box empty; the fan rows go.
    monitor->publish(testing::sampleWith(std::nan("")));
    QCOMPARE(static_cast<QLabel*>(part(part(panel.get(), "cpuRow"), "temp"))->text(), QString());
    QVERIFY(!shown(panel.get(), "fans") && !shown(panel.get(), "fansDivider"));
    QTRY_COMPARE(panel->height(), heightWithoutFans);
  }

  void temperatureColourFollowsCelsius() {
    struct Row {
      double celsius;
      const char* unit;
      const char* text;
      TemperatureLevel level;
    };
    // In Fahrenheit 69.9 and 70 °C both read 158°, yet only 70 is orange.
    for (const Row& row : {Row{90, "celsius", "90°", TemperatureLevel::hot},
                           Row{69.9, "fahrenheit", "158°", TemperatureLevel::normal},
                           Row{70, "fahrenheit", "158°", TemperatureLevel::warm}}) {
      preferences.setTempUnitRaw(QLatin1String(row.unit));
      monitor->publish(testing::sampleWith(row.celsius));
      auto* temp = static_cast<QLabel*>(part(part(panel.get(), "cpuRow"), "temp"));
      QCOMPARE(temp->text(), QString::fromUtf8(row.text));
      QCOMPARE(temp->palette().color(QPalette::WindowText), temperatureColour(row.level));
    }
  }

  void updateLinkOnlyWhenAnUpdateExists() {
    testing::CannedHttpServer server;
    server.answer(200, "{\"version\":\"9.1.0\",\"url\":\"https://calorim.invalid/download\"}");
    // One real sample, then the update check.
    SimulatedRig rig(LiveMonitor::kPause, server.url());
    auto monitor = rig.makeMonitor();
    Preferences preferences;
    MenuBarPanel panel(*monitor, preferences, {});
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    // Without an update the quit button ends the panel.
    QVERIFY(!shown(&panel, "updateLink") && !shown(&panel, "updateDivider"));
    QWidget* quit = part(&panel, "quitButton");
    QCOMPARE(quit->geometry().bottom() + 1 + MenuBarPanel::kMargin, panel.height());

    QVERIFY(testing::waitUntil([&] { return monitor->updateAvailable().has_value(); }));
    auto* link = static_cast<QLabel*>(part(&panel, "updateLink"));
    QVERIFY(shown(&panel, "updateDivider") && link->isVisibleTo(&panel));
    QVERIFY(link->text().contains(QStringLiteral("\u2B06 Update available: v9.1.0")));
    QVERIFY(link->text().contains(QStringLiteral("href=\"https://calorim.invalid/download\"")));
    QTRY_VERIFY(link->geometry().top() > quit->geometry().bottom());

    // The simulated laptop's first sample, with its fans, and the link.
    QVERIFY(testing::waitUntil([&] { return !monitor->latest().fans.empty(); }));
    QTRY_COMPARE(panel.height(), panel.sizeHint().height());
    // Nothing clipped: every text gets at least the room it asks for.
    for (QLabel* label : panel.findChildren<QLabel*>()) {
      if (label->isVisibleTo(&panel)) QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
    }
    QVERIFY(testing::saveScreenshot(panel.grab(), QStringLiteral("panel_simulated.png")));
  }

  void buttonsAskTheShellInOrder() {
    auto click = [&](const char* button) {
      calls.clear();
      QTest::mouseClick(part(panel.get(), button), Qt::LeftButton);
      return calls;
    };
    QCOMPARE(click("settingsButton"), QStringList({"front", "open settings"}));
    QVERIFY(!monitor->isPaused());
    // Sampling pauses before anything else happens.
    QCOMPARE(click("detailButton"), QStringList({"regular, paused", "front", "open detail"}));
    monitor->setPaused(false);
    QCOMPARE(click("portsButton"), QStringList({"regular", "front", "open ports"}));
    QVERIFY(!monitor->isPaused());
    QCOMPARE(click("quitButton"), QStringList({"quit"}));

    panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel.get()));
    calls.clear();
    // A shortcut presses its button with a short animation, then clicks.
    QTest::keyClick(panel.get(), Qt::Key_Comma, Qt::ControlModifier);
    QTRY_COMPARE(calls, QStringList({"front", "open settings"}));
    QTest::keyClick(panel.get(), Qt::Key_Q, Qt::ControlModifier);
    QTRY_COMPARE(calls, QStringList({"front", "open settings", "quit"}));
  }

 private:
  [[nodiscard]] bool pageIs(const char* golden) const {
    const QString path = QStringLiteral(GOLDEN_DIR "/") + QLatin1String(golden);
    return testing::matchesGolden(path, testing::widgetTree(panel.get()));
  }

  SimulatedRig rig;
  std::unique_ptr<LiveMonitor> monitor = rig.makeMonitor();
  Preferences preferences;
  QStringList calls;
  PanelActions actions;
  std::unique_ptr<MenuBarPanel> panel;
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::PanelViewTest)
#include "panel_view_test.moc"
