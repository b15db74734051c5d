// The menu-bar panel on samples published through the live monitor: the
// rows and their colours, the fan rows, the update link, the buttons' actions
// and shortcuts, and a screenshot on the simulated laptop.

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
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

QString labelText(QWidget* parent, const char* name) {
  auto* label = parent->findChild<QLabel*>(QLatin1String(name));
  return label != nullptr ? label->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

QWidget* part(QWidget* panel, const char* name) {
  QWidget* found = panel->findChild<QWidget*>(QLatin1String(name));
  if (found == nullptr) qFatal("no part named %s", name);
  return found;
}

bool shown(QWidget* panel, const char* name) { return part(panel, name)->isVisibleTo(panel); }

}  // namespace

class PanelViewTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private slots:
  void initTestCase() { QVERIFY(testing::openSourceStringBundle()); }
  void init() { testing::clearPreferences(); }

  void zeroSampleFirstThenEachPublication() {
    SimulatedRig rig;
    auto monitor = rig.makeMonitor();
    Preferences preferences;
    MenuBarPanel panel(*monitor, preferences, {});
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    QCOMPARE(panel.width(), MenuBarPanel::kWidth);
    for (const char* row : {"cpuRow", "gpuRow", "aneRow", "dramRow"}) {
      QCOMPARE(labelText(part(&panel, row), "watts") + labelText(part(&panel, row), "temp"), QStringLiteral("0.00 W"));
    }
    // The neural engine and DRAM have no load: the box takes no room, and
    // their watts still line up with the CPU's because every box is as wide.
    QVERIFY(!part(part(&panel, "aneRow"), "usage")->isVisibleTo(&panel));
    QVERIFY(!part(part(&panel, "dramRow"), "usage")->isVisibleTo(&panel));
    const auto wattsRight = [&](const char* row) {
      QWidget* watts = part(part(&panel, row), "watts");
      return watts->mapTo(&panel, QPoint(watts->width(), 0)).x();
    };
    QCOMPARE(wattsRight("aneRow"), wattsRight("cpuRow"));
    QCOMPARE(wattsRight("dramRow"), wattsRight("gpuRow"));

    QVERIFY(!shown(&panel, "fans") && !shown(&panel, "fansDivider"));

    // A new unit redraws at once.
    monitor->publish(testing::sampleWith(50));
    QCOMPARE(labelText(part(&panel, "cpuRow"), "temp"), QStringLiteral("50°"));
    preferences.setTempUnitRaw(QStringLiteral("fahrenheit"));
    QCOMPARE(labelText(part(&panel, "cpuRow"), "temp"), QStringLiteral("122°"));
    QCOMPARE(labelText(part(&panel, "gpuRow"), "temp"), QStringLiteral("108°"));

    // No reading leaves the temperature box empty.
    monitor->publish(testing::sampleWith(std::nan("")));
    QCOMPARE(labelText(part(&panel, "cpuRow"), "temp"), QString());
  }

  void temperatureColourFollowsCelsius_data() {
    QTest::addColumn<double>("celsius");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("level");
    const int normal = int(TemperatureLevel::normal);
    const int warm = int(TemperatureLevel::warm);
    const int hot = int(TemperatureLevel::hot);
    QTest::newRow("90 °C") << 90.0 << "celsius" << "90°" << hot;
    // In Fahrenheit 69.9 and 70 °C both read 158°, yet only 70 is orange.
    QTest::newRow("69.9 °C in °F") << 69.9 << "fahrenheit" << "158°" << normal;
    QTest::newRow("70 °C in °F") << 70.0 << "fahrenheit" << "158°" << warm;
  }

  void temperatureColourFollowsCelsius() {
    QFETCH(double, celsius);
    QFETCH(QString, unit);
    QFETCH(QString, text);
    QFETCH(int, level);

    SimulatedRig rig;
    auto monitor = rig.makeMonitor();
    Preferences preferences;
    preferences.setTempUnitRaw(unit);
    MenuBarPanel panel(*monitor, preferences, {});
    monitor->publish(testing::sampleWith(celsius));

    auto* temp = part(part(&panel, "cpuRow"), "temp");
    QCOMPARE(static_cast<QLabel*>(temp)->text(), text);
    QCOMPARE(temp->palette().color(QPalette::WindowText), temperatureColour(TemperatureLevel(level)));
  }

  void fanRowsComeAndGoWithTheFans() {
    SimulatedRig rig;
    auto monitor = rig.makeMonitor();
    Preferences preferences;
    MenuBarPanel panel(*monitor, preferences, {});
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const int heightWithoutFans = panel.height();

    monitor->publish(testing::sampleWith(50, {FanInfo(0, 999.9), FanInfo(2, 1302.4)}));
    QVERIFY(shown(&panel, "fansDivider") && shown(&panel, "fans"));
    const QList<QWidget*> rows = part(&panel, "fans")->findChildren<QWidget*>(QStringLiteral("fanRow"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(labelText(rows[0], "fanName") + labelText(rows[0], "fanSpeed"), QStringLiteral("Fan 0999 RPM"));
    QCOMPARE(labelText(rows[1], "fanName") + labelText(rows[1], "fanSpeed"), QStringLiteral("Fan 21302 RPM"));
    QTRY_VERIFY(panel.height() > heightWithoutFans);

    monitor->publish(testing::sampleWith(50));
    QVERIFY(!shown(&panel, "fans") && !shown(&panel, "fansDivider"));
    QTRY_COMPARE(panel.height(), heightWithoutFans);
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
    SimulatedRig rig;
    auto monitor = rig.makeMonitor();
    Preferences preferences;
    QStringList calls;
    PanelActions actions;
    actions.openWindow = [&](const QString& id) { calls << QStringLiteral("open ") + id; };
    actions.showApplication = [&] {
      calls << (monitor->isPaused() ? QStringLiteral("regular, paused") : QStringLiteral("regular"));
    };
    actions.bringToFront = [&] { calls << QStringLiteral("front"); };
    actions.quit = [&] { calls << QStringLiteral("quit"); };
    MenuBarPanel panel(*monitor, preferences, actions);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    auto click = [&](const char* button) {
      calls.clear();
      QTest::mouseClick(part(&panel, button), Qt::LeftButton);
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
    QCOMPARE(static_cast<QPushButton*>(part(&panel, "portsButton"))->text(), QStringLiteral("Ports && Power"));

    panel.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    calls.clear();
    // A shortcut presses its button with a short animation, then clicks.
    QTest::keyClick(&panel, Qt::Key_Comma, Qt::ControlModifier);
    QTRY_COMPARE(calls, QStringList({"front", "open settings"}));
    QTest::keyClick(&panel, Qt::Key_Q, Qt::ControlModifier);
    QTRY_COMPARE(calls, QStringList({"front", "open settings", "quit"}));
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::PanelViewTest)
#include "panel_view_test.moc"
