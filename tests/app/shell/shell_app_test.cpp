// The running application on the simulated laptop, under the offscreen
// platform (which has no system tray): windows by identifier, the presence
// policy, the windows' opening and remembered sizes, the pause of the detail
// button, the tray icon and its text, the panel's window standing in for the
// tray, the item moving between its two ways, the notice of a machine without
// energy counters, and quitting. On Linux, on a
// private session bus with a watcher written here: the Qt tray icon while no
// watcher is on the bus; with one, the application's own StatusNotifierItem,
// registered with the watcher, its label following the menu-bar text, its
// icon the rendered first value, its activation opening the panel, and its
// menu offering the panel's buttons, and its return when the watcher restarts.

#include <QApplication>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/model/preferences.h"
#include "app/shell/calorim_app.h"
#include "app/shell/presence.h"
#include "app/shell/status_item.h"
#include "app/shell/tray.h"
#include "app/shell/window_registry.h"
#include "app/views/detail_view.h"
#include "app/views/panel_view.h"
#include "core/platform/linux/linux_platform.h"
#include "tests/app/ui_test_support.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"
#include "tests/core/platform/locked_counters.h"

#ifdef __linux__
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QProcess>

#include "app/shell/linux/status_notifier_item.h"
#include "app/shell/qt_tray_item.h"
#endif

namespace calorim::app {
namespace {

using testing::part;
using testing::shown;

// The application on the simulated laptop; its monitor publishes only what
// the test hands it.
struct AppRig {
  AppRig() : app(rig.machine.platform(), rig.options) {}

  MenuBarPanel* panel() { return app.tray().fallbackWindow()->findChild<MenuBarPanel*>(); }
  void press(const char* button) {
    QTest::mouseClick(part(panel(), button), Qt::LeftButton);
  }

  testing::SimulatedRig rig;
  CalorimApp app;
};

// The box around the light pixels of `image` (the digits on the dark square).
QRect inkBounds(const QImage& image) {
  QRect box;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qGray(image.pixel(x, y)) > 128 && qAlpha(image.pixel(x, y)) > 128) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

// An item of the test's own, which a test makes available at will.
class FakeStatusItem : public StatusItem {
 public:
  bool isAvailable() const override { return available; }
  void show() override { shown = true; }
  void hide() override { shown = false; }
  bool isShown() const override { return shown; }
  void setLook(const StatusItemLook& l) override { look = l; }
  void setMenu(QMenu*) override {}
  QRect anchor() const override { return {40, 0, 22, 22}; }

  bool available = false;
  bool shown = false;
  StatusItemLook look;
};

#ifdef __linux__
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// The watcher of the panel: it records the items that register.
class Watcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")

 public:
  QStringList registered;
  QStringList labels;  // each XAyatanaNewLabel: "label|guide"

 public slots:
  void RegisterStatusNotifierItem(const QString& service) { registered.append(service); }
  void newLabel(const QString& label, const QString& guide) { labels.append(label + QLatin1Char('|') + guide); }
};

#endif

}  // namespace

class ShellAppTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private:
#ifdef __linux__
  // The reply to `call` made from the watcher's connection without blocking
  // this thread, which also serves the item; an empty message on an error.
  QDBusMessage reply(const QDBusMessage& call) {
    QDBusPendingCall pending = watcherBus_.asyncCall(call);
    if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 10000) || pending.isError()) return {};
    return pending.reply();
  }
  QVariant itemProperty(const QString& service, const char* name) {
    const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
    QDBusMessage get = QDBusMessage::createMethodCall(service, StatusNotifierItem::kObjectPath, properties,
                                                      QStringLiteral("Get"));
    return reply(get << kItemInterface << QLatin1String(name)).arguments().value(0).value<QDBusVariant>().variant();
  }

  QProcess bus_;
  QDBusConnection watcherBus_{QString()};

#endif

 private slots:
  void initTestCase() {
    QVERIFY(testing::openSourceStringBundle());
#ifdef __linux__
    // A session bus of the test's own, before anything here reaches for one;
    // without dbus-daemon the tests that need it are skipped.
    bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                               QStringLiteral("--print-address")});
    if (!bus_.waitForStarted(5000)) return;
    QVERIFY(bus_.waitForReadyRead(5000));
    const QByteArray address = bus_.readLine().trimmed();
    QVERIFY(!address.isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    watcherBus_ = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("watcher"));
    QVERIFY(watcherBus_.isConnected());
#endif
  }
  void init() { testing::clearPreferences(); }
#ifdef __linux__
  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
    bus_.kill();
    bus_.waitForFinished();
  }
#endif

  void windowsByIdentifierAndThePresencePolicy() {
    AppRig rig;
    LiveMonitor& monitor = rig.app.monitor();
    WindowRegistry& windows = rig.app.windows();
    QCOMPARE(windows.openCount(), 0);
    QVERIFY(!QApplication::quitOnLastWindowClosed());
    QCOMPARE(rig.app.presence().policy(), PresencePolicy::accessory);

    // Settings leaves the application an accessory; the ports window makes it a regular one.
    rig.press("settingsButton");
    QWidget* settings = windows.window(CalorimApp::kSettings);
    QVERIFY(settings != nullptr);
    // As large as its content, and resizable.
    QVERIFY(QTest::qWaitForWindowExposed(settings));
    QTRY_COMPARE(settings->findChild<QScrollArea*>()->verticalScrollBar()->maximum(), 0);
    QCOMPARE(settings->minimumWidth(), 320);
    QVERIFY(settings->maximumHeight() > settings->height());
    QCOMPARE(rig.app.presence().policy(), PresencePolicy::accessory);
    rig.press("portsButton");
    QWidget* ports = windows.window(CalorimApp::kPorts);
    QCOMPARE(ports->windowTitle(), QStringLiteral("Ports & Power"));
    QCOMPARE(ports->minimumSize(), QSize(400, 400));
    QCOMPARE(rig.app.presence().policy(), PresencePolicy::regular);

    // The detail window clears the button's pause once it is shown. Brought
    // forward, it is not shown anew: the shell clears the pause the button
    // set, at once, and it stays cleared.
    rig.press("detailButton");
    QWidget* detail = windows.window(CalorimApp::kDetail);
    QCOMPARE(detail->windowTitle(), QStringLiteral("Calorim"));
    QVERIFY(detail->findChild<QLabel*>(QStringLiteral("simulatedLabel")) == nullptr);
    QCOMPARE(detail->minimumSize(), QSize(420, 450));
    // It opens showing its first three cards whole, without scrolling.
    QVERIFY(QTest::qWaitForWindowExposed(detail));
    for (const char* card : {"heroCard", "cpuCard", "gpuCard"}) {
      QWidget* shownCard = part(detail, card);
      QVERIFY2(shownCard->mapTo(detail, QPoint(0, shownCard->height())).y() <= detail->height(), card);
    }
    QVERIFY(testing::saveScreenshot(detail->grab(), QStringLiteral("detail_opening.png")));
    QTRY_VERIFY(!monitor.isPaused());
    rig.press("detailButton");
    QVERIFY(!monitor.isPaused());
    QTest::qWait(700);
    QVERIFY(!monitor.isPaused());

    for (const QString& id : {CalorimApp::kSettings, CalorimApp::kPorts, CalorimApp::kDetail}) {
      QWidget* before = windows.window(id);
      rig.app.openWindow(id);
      QCOMPARE(windows.window(id), before);
    }
    QCOMPARE(windows.openCount(), 3);

    // A closed window is gone; the last one closed makes the application an
    // accessory again; opening an identifier makes a fresh window.
    QPointer<QWidget> closed = settings;
    settings->close();
    QTRY_VERIFY(closed.isNull());
    QCOMPARE(windows.openCount(), 2);
    QCOMPARE(rig.app.presence().policy(), PresencePolicy::regular);
    ports->close();
    detail->close();
    QTRY_COMPARE(rig.app.presence().policy(), PresencePolicy::accessory);
    QCOMPARE(windows.openCount(), 0);
    QVERIFY(!monitor.isPaused());
    rig.app.openWindow(CalorimApp::kSettings);
    QCOMPARE(windows.openCount(), 1);

    // Each window opens again at the size the user left it at.
    rig.app.openWindow(CalorimApp::kDetail);
    windows.window(CalorimApp::kDetail)->resize(640, 520);
    QVERIFY(QTest::qWaitForWindowExposed(windows.window(CalorimApp::kDetail)));
    QTRY_COMPARE(rig.app.preferences().windowSize(CalorimApp::kDetail), std::optional(QSize(640, 520)));
    windows.window(CalorimApp::kDetail)->close();
    QTRY_VERIFY(windows.window(CalorimApp::kDetail) == nullptr);
    rig.app.openWindow(CalorimApp::kDetail);
    QCOMPARE(windows.window(CalorimApp::kDetail)->size(), QSize(640, 520));
    // A stored size of no sense is not used.
    windows.window(CalorimApp::kDetail)->close();
    QTRY_VERIFY(windows.window(CalorimApp::kDetail) == nullptr);
    QSettings(QStringLiteral("Calorim"), QStringLiteral("Calorim")).setValue(QStringLiteral("windows/detail/size"),
                                                                          QStringLiteral("huge"));
    rig.app.openWindow(CalorimApp::kDetail);
    QVERIFY(windows.window(CalorimApp::kDetail)->width() < 640);
  }

  void withoutATrayThePanelStandsInAWindowAndTheIconFollowsTheSample() {
    AppRig rig;
    TrayController& tray = rig.app.tray();
    QVERIFY(!tray.hasTrayIcon());
    QWidget* window = tray.fallbackWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->windowTitle(), QStringLiteral("Calorim"));
    QVERIFY(rig.panel() != nullptr);
    QCOMPARE(window->width(), MenuBarPanel::kWidth);

    // Closing it would leave nothing to reach the application by.
    window->close();
    QTest::qWait(10);
    QCOMPARE(tray.fallbackWindow(), window);
    QVERIFY(window->windowState() & Qt::WindowMinimized);
    tray.showPanel();
    QVERIFY(!(window->windowState() & Qt::WindowMinimized));
    QVERIFY(window->isVisible());
    QVERIFY(testing::saveScreenshot(window->grab(), QStringLiteral("panel_window.png")));

    // The icon and the tooltip follow the sample and the unit at once.
    QCOMPARE(tray.iconText(), QStringLiteral("0"));
    QSignalSpy redrawn(&tray, &TrayController::redrawn);
    rig.app.monitor().publish(testing::sampleWith(50));
    QCOMPARE(redrawn.count(), 1);
    QCOMPARE(tray.toolTip(), QStringLiteral("SoC 5.6W"));
    QCOMPARE(tray.iconText(), QStringLiteral("6"));
    // The icon shows the first chosen item in declaration order; the tooltip all.
    rig.app.preferences().setMenuBarItemsRaw(QStringLiteral("cpuTemp,gpuPower"));
    QCOMPARE(tray.toolTip() + tray.iconText(), QStringLiteral("GPU1.1W \u00B7 CPU50\u00B01"));
    rig.app.preferences().setMenuBarItemsRaw(QStringLiteral("cpuTemp"));
    redrawn.clear();
    rig.app.preferences().setTempUnitRaw(QStringLiteral("fahrenheit"));
    QCOMPARE(redrawn.count(), 1);
    QCOMPARE(tray.iconText(), QStringLiteral("122"));
    QVERIFY(!tray.icon().pixmap(TrayController::kIconSize).isNull());
  }

  void aSimulatedMachineIsSaidToBeOneInEveryView() {
    testing::SimulatedRig sim;
    sim.options.simulated = true;
    CalorimApp app(sim.machine.platform(), sim.options);
    const QString name = localized("app.nameSimulated");

    QWidget* panelWindow = app.tray().fallbackWindow();
    QVERIFY(QTest::qWaitForWindowExposed(panelWindow));
    QCOMPARE(part<QLabel>(panelWindow, "title")->text(), name);
    QCOMPARE(app.tray().toolTip(), name + QStringLiteral("\nSoC 0.0W"));
    app.monitor().publish(testing::sampleWith(50));
    QCOMPARE(app.tray().toolTip(), name + QStringLiteral("\nSoC 5.6W"));
    QVERIFY(testing::saveScreenshot(panelWindow->grab(), QStringLiteral("simulated_panel.png")));

    app.openWindow(CalorimApp::kDetail);
    QWidget* detail = app.windows().window(CalorimApp::kDetail);
    QVERIFY(QTest::qWaitForWindowExposed(detail));
    QVERIFY(shown(detail, "simulatedLabel"));
    QCOMPARE(part<QLabel>(part(detail, "heroCard"), "simulatedLabel")->text(), localized("detail.simulated"));
    QCOMPARE(detail->windowTitle(), name);
    QVERIFY(testing::saveScreenshot(detail->grab(), QStringLiteral("simulated_detail.png")));

    app.openWindow(CalorimApp::kPorts);
    QWidget* ports = app.windows().window(CalorimApp::kPorts);
    QVERIFY(QTest::qWaitForWindowExposed(ports));
    QCOMPARE(ports->windowTitle(), localized("ports.titleSimulated"));
    QCOMPARE(part<QLabel>(ports, "simulatedLabel")->text(), localized("detail.simulated"));
    QTRY_VERIFY(ports->findChild<QLabel*>(QStringLiteral("adapterTitle")) != nullptr);  // read off the UI thread
    QVERIFY(testing::saveScreenshot(ports->grab(), QStringLiteral("simulated_ports.png")));
  }

  void theControllerDrivesAnyStatusItem() {
    testing::SimulatedRig sim;
    auto monitor = sim.makeMonitor();
    Preferences preferences;
    auto owned = std::make_unique<FakeStatusItem>();
    FakeStatusItem& item = *owned;
    TrayController tray(*monitor, preferences, {}, std::move(owned));
    tray.start();
    QVERIFY(!item.shown && tray.fallbackWindow() != nullptr);
    // The menu shows its texts as they are: no "&" taken for a mnemonic.
    QStringList shownTexts;
    for (const QAction* action : tray.menu().actions()) shownTexts << action->iconText();
    QCOMPARE(shownTexts, (QStringList{localized("menu.openDetail"), localized("menu.settings"),
                                      QStringLiteral("Ports & Power"), QString(), localized("menu.quit")}));

    item.available = true;
    QTest::qWait(TrayController::kTrayCheckMs + 200);
    QVERIFY(item.shown);
    QTRY_VERIFY(tray.fallbackWindow() == nullptr);
    monitor->publish(testing::sampleWith(50));
    QCOMPARE(item.look.text, QStringLiteral("SoC 5.6W"));
    QCOMPARE(item.look.toolTip, item.look.text);
    QVERIFY(!item.look.icon.isNull());

    // A click opens the popup below the item; the next closes it.
    emit item.activated();
    QVERIFY(tray.popupPanel() != nullptr && tray.popupPanel()->isVisible());
    QCOMPARE(tray.popupPanel()->y(), 22 + 4);
    emit item.activated();
    QVERIFY(!tray.popupPanel()->isVisible());
  }

  // A desktop's panel that restarts takes the preferred way of showing the
  // item away and back: the item moves to the other way and back at once,
  // and no window ever stands in for it.
  void theItemMovesBetweenItsTwoWaysAsTheyComeAndGo() {
    testing::SimulatedRig sim;
    auto monitor = sim.makeMonitor();
    Preferences preferences;
    auto preferredOwned = std::make_unique<FakeStatusItem>();
    auto otherOwned = std::make_unique<FakeStatusItem>();
    FakeStatusItem& preferred = *preferredOwned;
    FakeStatusItem& other = *otherOwned;
    preferred.available = other.available = true;
    auto owned = std::make_unique<PreferringStatusItem>(std::move(preferredOwned), std::move(otherOwned));
    PreferringStatusItem& item = *owned;
    TrayController tray(*monitor, preferences, {}, std::move(owned));
    tray.start();
    QVERIFY(preferred.shown && !other.shown && item.current() == &preferred);
    monitor->publish(testing::sampleWith(50));
    QCOMPARE(other.look.text, preferred.look.text);  // ready to take over

    preferred.available = false;
    emit preferred.availabilityChanged();
    QVERIFY(!preferred.shown && other.shown && item.current() == &other);
    preferred.available = true;
    emit preferred.availabilityChanged();
    QVERIFY(preferred.shown && !other.shown);
    QVERIFY(tray.fallbackWindow() == nullptr);

    // With neither, the controller puts the panel in a window at once.
    preferred.available = other.available = false;
    emit preferred.availabilityChanged();
    QVERIFY(!item.isShown());
    QVERIFY(tray.fallbackWindow() != nullptr);
  }

  // A machine without energy counters (a virtual machine) is told so, with
  // what still works, and not sent to grant an access that would not help.
  void withoutEnergyCountersTheNoticeSaysWhatStillWorks() {
    calorim::testing::MachineTree tree("vm");
    tree.copyProc("vm");
    auto machineClock = std::make_shared<calorim::testing::MachineClock>(tree.root());
    LiveMonitorOptions options;
    options.updateUrl = QString();
    CalorimApp app(sysfs::makeLinuxPlatform(tree.root(), machineClock, ""), options);
    QSignalSpy published(&app.monitor(), &LiveMonitor::published);
    QTRY_VERIFY_WITH_TIMEOUT(published.count() >= 1, 20000);
    QCOMPARE(app.monitor().energyAccess().state, EnergyAccess::State::absent);
    MenuBarPanel* panel = app.tray().fallbackWindow()->findChild<MenuBarPanel*>();
    const QString notice = part<QLabel>(panel, "energyNotice")->text();
    QCOMPARE(notice, localized("energy.absent"));
    QVERIFY(!notice.contains(QStringLiteral("Granting")));
    QVERIFY(notice.contains(QStringLiteral("virtual machine")));
    QVERIFY(testing::saveScreenshot(panel->window()->grab(), QStringLiteral("panel_without_counters.png")));
  }

  // The laptop fixture with its energy counters root's alone, as the kernel
  // leaves them: everything else is sampled on schedule, power is absent, not
  // 0, and once access is granted the next round measures it.
  void withoutEnergyAccessEverythingElseIsShownAndPowerFollowsTheGrant() {
    calorim::testing::MachineTree tree("laptop");
    tree.copyProc("laptop");
    // The test clock moves the ticks on while the process reads as another user.
    const std::string rc6 = "sys/class/drm/card0/gt/gt0/rc6_residency_ms";
    for (const std::string& file : {std::string("proc/stat"), rc6}) ::chmod((tree.root() / file).c_str(), 0666);
    auto machineClock = std::make_shared<calorim::testing::MachineClock>(tree.root());
    for (int cpu = 0; cpu < 16; ++cpu) machineClock->setTickRates(cpu, calorim::testing::TickRates{40, 0, 10, 50});
    machineClock->setCounterRate(rc6, 900);
    fake::FakeClock time;
    auto stepping = std::make_shared<testing::SteppingClock>(time, LiveMonitor::kPause);
    LiveMonitorOptions options;
    options.clock = stepping;
    options.updateUrl = QString();  // no update check
    QPixmap panelShot, detailShot, grantedShot;
    {
      calorim::testing::LockedCounters locked(tree.root());
      if (!locked.locked()) QSKIP("the process cannot read files as another user here");
      CalorimApp app(sysfs::makeLinuxPlatform(tree.root(), machineClock, ""), options);
      LiveMonitor& monitor = app.monitor();
      QSignalSpy published(&monitor, &LiveMonitor::published);
      QTRY_COMPARE_WITH_TIMEOUT(published.count(), 1, 20000);

      const QString folder = QString::fromStdString((tree.root() / "sys/class/powercap").string());
      QCOMPARE(monitor.energyAccess().state, EnergyAccess::State::denied);
      QVERIFY(!monitor.error());
      const PowerSample& s = monitor.latest();
      QVERIFY(!s.hasPower);
      QCOMPARE(s.cpuUsage, 0.5);
      QCOMPARE(s.gpuUsage, 0.1);
      QCOMPARE(s.cpuTemp, 57.0);
      QVERIFY(!s.fans.empty() && s.ramTotalGB > 0);
      QVERIFY(monitor.history().empty());
      QVERIFY(monitor.systemInfo().has_value());

      QCOMPARE(app.tray().toolTip(), QStringLiteral("SoC \u2014"));
      QCOMPARE(app.tray().iconText(), QStringLiteral("\u2014"));
      MenuBarPanel* panel = app.tray().fallbackWindow()->findChild<MenuBarPanel*>();
      QVERIFY(QTest::qWaitForWindowExposed(panel->window()));
      QCOMPARE(part<QLabel>(panel, "totalValue")->text(), QStringLiteral("\u2014"));
      QCOMPARE(part<QLabel>(part(panel, "cpuRow"), "watts")->text(), QStringLiteral("\u2014"));
      const QString notice = *energyNotice(monitor.energyAccess());
      QCOMPARE(QString(notice).remove(QChar(0x200B)), localized("energy.denied").arg(folder));
      QCOMPARE(part<QLabel>(panel, "energyNotice")->text(), notice);
      panelShot = panel->window()->grab();

      app.openWindow(CalorimApp::kDetail);
      QWidget* detail = app.windows().window(CalorimApp::kDetail);
      QVERIFY(QTest::qWaitForWindowExposed(detail));
      QCOMPARE(part<QLabel>(detail, "socValue")->text(), QStringLiteral("\u2014"));
      QCOMPARE(part<QLabel>(detail, "energyNotice")->text(), notice);
      for (const char* hidden : {"historyLine", "peakLabel", "avgLabel", "aneCard", "memoryCard"}) {
        QVERIFY2(!shown(detail, hidden), hidden);
      }
      QVERIFY(shown(detail, "fansCard"));
      detailShot = detail->grab();
      QCOMPARE(detail->width(), DetailView::kOpeningWidth);

      // The administrator applies the rule; the next round reads the counters.
      locked.grant();
      calorim::testing::setSteadyLaptopLoad(*machineClock);
      stepping->release();
      QTRY_COMPARE_WITH_TIMEOUT(published.count(), 2, 20000);
      QVERIFY(monitor.latest().hasPower);
      QCOMPARE(monitor.latest().total, 13.5);
      QCOMPARE(monitor.energyAccess().state, EnergyAccess::State::readable);
      QCOMPARE(monitor.history(), std::vector<double>{13.5});
      QCOMPARE(app.tray().toolTip(), QStringLiteral("SoC 13.5W"));
      QVERIFY(!shown(panel, "energyNotice") && shown(detail, "historyLine"));
      grantedShot = detail->grab();
    }
    QVERIFY(testing::saveScreenshot(grantedShot, QStringLiteral("detail_granted.png")));
    QVERIFY(testing::saveScreenshot(panelShot, QStringLiteral("panel_without_energy.png")));
    QVERIFY(testing::saveScreenshot(detailShot, QStringLiteral("detail_without_energy.png")));
  }

  void trayIconDigitsFillTheSlot() {
    const QSize slot = TrayController::kIconSize;
    // As many characters, as large: the digits stand still as the value moves.
    QCOMPARE(trayIconPixelSize(QStringLiteral("11"), slot), trayIconPixelSize(QStringLiteral("88"), slot));
    QVERIFY(trayIconPixelSize(QStringLiteral("100"), slot) < trayIconPixelSize(QStringLiteral("42"), slot));

    for (const QString& text : {QStringLiteral("5"), QStringLiteral("42"), QStringLiteral("100")}) {
      const QImage image = renderTrayIcon(text, slot).toImage();
      QCOMPARE(image.size(), slot);
      const QRect ink = inkBounds(image);
      QVERIFY2(QRect(QPoint(1, 1), slot - QSize(2, 2)).contains(ink), qPrintable(text));
      // Drawn as large as the slot allows: the digits fill it one way or the other.
      QVERIFY2(ink.height() >= 14 || ink.width() >= 16, qPrintable(text));
      QVERIFY2(std::abs(ink.center().y() - slot.height() / 2) <= 2, qPrintable(text));
      QVERIFY2(std::abs(ink.center().x() - slot.width() / 2) <= 2, qPrintable(text));
    }

    const QPixmap icon = renderTrayIcon(QStringLiteral("42"), slot);
    QVERIFY(testing::saveScreenshot(icon, QStringLiteral("tray_icon.png")));
    // The same, eight times larger, for a person to look at.
    QVERIFY(testing::saveScreenshot(icon.scaled(slot * 8, Qt::KeepAspectRatio, Qt::FastTransformation),
                                    QStringLiteral("tray_icon_x8.png")));
    QVERIFY(testing::saveScreenshot(renderTrayIcon(QStringLiteral("42"), slot, 2).scaled(slot * 8),
                                    QStringLiteral("tray_icon_2x_x8.png")));
  }

  void closingTheLastWindowKeepsRunningAndQuitEndsWithZero() {
    AppRig rig;
    rig.app.tray().fallbackWindow()->hide();
    rig.app.openWindow(CalorimApp::kSettings);
    QWidget* settings = rig.app.windows().window(CalorimApp::kSettings);
    QVERIFY(QTest::qWaitForWindowExposed(settings));

    // The last visible window closes inside the event loop, which goes on
    // until it is told to end with 7.
    QTimer::singleShot(0, settings, &QWidget::close);
    QTimer::singleShot(300, [] { QCoreApplication::exit(7); });
    QCOMPARE(QApplication::exec(), 7);

    // The panel's quit button ends it with 0.
    rig.app.tray().showPanel();
    QTimer::singleShot(0, [&] { rig.press("quitButton"); });
    QObject guard;  // ends a run the button did not end, with 9
    QTimer::singleShot(20000, &guard, [] { QCoreApplication::exit(9); });
    QCOMPARE(QApplication::exec(), 0);
  }

#ifdef __linux__
  // Last: the watcher, once on the bus, stays there.
  void onlyWithAWatcherTheItemRegistersShowsTheLineAndOpensThePanel() {
    if (!watcherBus_.isConnected()) QSKIP("no dbus-daemon here: the status notifier item is not tested");
    // Without a watcher (and, offscreen, without a tray) nothing can show the item.
    QVERIFY(!StatusNotifierItem::watcherPresent(QDBusConnection::sessionBus()));
    QVERIFY(!makeStatusItem()->isAvailable());
    Watcher watcher;
    QVERIFY(watcherBus_.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                       QDBusConnection::ExportAllSlots));
    QVERIFY(watcherBus_.registerService(StatusNotifierItem::kWatcherService));

    testing::SimulatedRig rig;
    CalorimApp app(rig.machine.platform(), rig.options);
    auto* preferring = dynamic_cast<PreferringStatusItem*>(&app.tray().statusItem());
    QVERIFY(preferring != nullptr);
    auto* item = dynamic_cast<StatusNotifierItem*>(preferring->current());
    QVERIFY(item != nullptr);
    QTRY_COMPARE(watcher.registered, QStringList{item->serviceName()});
    QVERIFY(app.tray().hasTrayIcon());
    QVERIFY(app.tray().fallbackWindow() == nullptr);
    const QString service = item->serviceName();
    QVERIFY(watcherBus_.connect(service, StatusNotifierItem::kObjectPath, kItemInterface,
                                QStringLiteral("XAyatanaNewLabel"), &watcher, SLOT(newLabel(QString, QString))));

    QCOMPARE(itemProperty(service, "XAyatanaLabel").toString(), QStringLiteral("SoC 0.0W"));
    QCOMPARE(itemProperty(service, "XAyatanaLabelGuide").toString(), QStringLiteral("SoC 0.0W"));
    QCOMPARE(itemProperty(service, "Id").toString(), QStringLiteral("calorim"));

    // The label follows every publication and every change of the chosen items.
    app.monitor().publish(testing::sampleWith(50));
    QTRY_COMPARE(watcher.labels, QStringList{QStringLiteral("SoC 5.6W|SoC 0.0W")});
    app.preferences().setMenuBarItemsRaw(QStringLiteral("cpuTemp,gpuPower"));
    QTRY_COMPARE(watcher.labels.size(), 2);
    QCOMPARE(watcher.labels.last(), QStringLiteral("GPU1.1W \u00B7 CPU50\u00B0|GPU0.0W \u00B7 CPU00\u00B0"));
    QCOMPARE(itemProperty(service, "XAyatanaLabel").toString(), QStringLiteral("GPU1.1W \u00B7 CPU50\u00B0"));

    // The icon: the rendered first value at three sizes, ARGB32 in network byte order.
    const auto pixmaps = qvariant_cast<QDBusArgument>(itemProperty(service, "IconPixmap"));
    QList<int> sides;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
      int width = 0, height = 0;
      QByteArray argb;
      pixmaps.beginStructure();
      pixmaps >> width >> height >> argb;
      pixmaps.endStructure();
      QCOMPARE(argb.size(), width * height * 4);
      // The corner is transparent, the middle of the dark square opaque.
      QCOMPARE(static_cast<quint8>(argb[0]), quint8(0));
      QVERIFY(static_cast<quint8>(argb[(height / 2 * width + 2) * 4]) > 200);
      sides.append(width);
    }
    pixmaps.endArray();
    QCOMPARE(sides, (QList<int>{16, 22, 32}));

    // A click on the item opens the panel, below the place the host gave.
    watcherBus_.send(QDBusMessage::createMethodCall(service, StatusNotifierItem::kObjectPath, kItemInterface,
                                                    QStringLiteral("Activate"))
                     << 10 << 10);
    QTRY_VERIFY(app.tray().popupPanel() != nullptr && app.tray().popupPanel()->isVisible());
    QCOMPARE(app.tray().popupPanel()->y(), 10 + 1 + 4);

    // The context menu, as a host that draws it reads it: the panel's buttons;
    // a click on one of them does what the button does.
    QCOMPARE(qvariant_cast<QDBusObjectPath>(itemProperty(service, "Menu")).path(),
             StatusNotifierItem::kMenuPath);
    const auto menuCall = [&](const char* method) {
      return QDBusMessage::createMethodCall(service, StatusNotifierItem::kMenuPath, QStringLiteral("com.canonical.dbusmenu"),
                                            QLatin1String(method));
    };
    QCOMPARE(reply(menuCall("GetGroupProperties") << QVariant::fromValue(QList<int>{2}) << QStringList()).type(),
             QDBusMessage::ReplyMessage);
    const QDBusMessage layoutReply = reply(menuCall("GetLayout") << 0 << -1 << QStringList());
    const auto layout = qvariant_cast<QDBusArgument>(layoutReply.arguments().value(1));
    QStringList entries;
    int rootId = -1;
    QVariantMap rootProperties;
    layout.beginStructure();
    layout >> rootId >> rootProperties;
    layout.beginArray();
    while (!layout.atEnd()) {
      QDBusVariant child;
      layout >> child;
      const auto entry = qvariant_cast<QDBusArgument>(child.variant());
      int id = 0;
      QVariantMap properties;
      entry.beginStructure();
      entry >> id >> properties;
      entries.append(QString::number(id) + QLatin1Char(' ') +
                     properties.value(QStringLiteral("label"), properties.value(QStringLiteral("type"))).toString());
    }
    layout.endArray();
    layout.endStructure();
    QCOMPARE(rootId, 0);
    QCOMPARE(entries, (QStringList{QStringLiteral("1 ") + localized("menu.openDetail"),
                                   QStringLiteral("2 ") + localized("menu.settings"), QStringLiteral("3 Ports & Power"),
                                   QStringLiteral("4 separator"), QStringLiteral("5 ") + localized("menu.quit")}));
    watcherBus_.send(menuCall("Event") << 2 << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u);
    QTRY_VERIFY(app.windows().window(CalorimApp::kSettings) != nullptr);

    // The desktop's panel ends: with no tray either, the panel's window stands
    // in at once; the panel back, the item registers again and the window goes.
    QVERIFY(watcherBus_.unregisterService(StatusNotifierItem::kWatcherService));
    QTRY_VERIFY(app.tray().fallbackWindow() != nullptr);
    QVERIFY(!app.tray().hasTrayIcon());
    QVERIFY(watcherBus_.registerService(StatusNotifierItem::kWatcherService));
    QTRY_COMPARE(watcher.registered.size(), 2);
    QVERIFY(app.tray().hasTrayIcon());
    QTRY_VERIFY(app.tray().fallbackWindow() == nullptr);
  }
#endif
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::ShellAppTest)
#include "shell_app_test.moc"
