// The views, with screenshots of each: the menu-bar panel, the settings
// window and the detail window on samples published through the live monitor
// (their pictures as golden text, where visibility shows too), their texts as
// tables (optional parts joined by "|", "-" where absent) and their widgets.

#include <QCheckBox>
#include <QLabel>
#include <QMap>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <set>

#include "app/model/battery_readers.h"
#include "app/model/live_monitor.h"
#include "app/model/menu_bar_text.h"
#include "app/model/preferences.h"
#include "app/model/strings.h"
#include "app/views/detail_text.h"
#include "app/views/detail_view.h"
#include "app/views/detail_widgets.h"
#include "app/views/panel_view.h"
#include "app/views/settings_view.h"
#include "app/views/temperature_colour.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/linux/linux_platform.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_metrics.h"
#include "core/process_power.h"
#include "tests/app/ui_test_support.h"
#include "tests/core/platform/linux_machine_clock.h"
#include "tests/core/platform/linux_machine_tree.h"

namespace calorim::app {
namespace {

using testing::part;
using testing::shown;
using testing::SimulatedRig;

// Shows `w`, at `size` where one is given, and waits until it is on screen.
bool exposed(QWidget* w, QSize size = {}) {
  if (size.isValid()) w->resize(size);
  w->show();
  return QTest::qWaitForWindowExposed(w);
}

bool pictureIs(const QWidget* root, const char* golden) {
  return testing::matchesGolden(std::string(GOLDEN_DIR "/") + golden, testing::widgetTree(root));
}

class FakeLoginItem final : public LoginItem {
 public:
  [[nodiscard]] bool isEnabled() const override { return enabled; }
  LoginItemChange setEnabled(bool on) override {
    ++writes;
    if (!failure.isNull()) return {false, failure};
    enabled = on;
    return {true, {}};
  }
  [[nodiscard]] QString unavailableReason() const override { return unavailable; }

  bool enabled = false;
  QString failure;  // not null: every change fails, with this reason
  QString unavailable;
  int writes = 0;
};

// A settings window with the boxes at hand.
struct SettingsRig {
  explicit SettingsRig(const QString& storedItems = QString(), bool registered = false,
                       const QString& unavailable = QString()) {
    if (!storedItems.isNull()) preferences.setMenuBarItemsRaw(storedItems);
    loginItem.enabled = registered;
    loginItem.unavailable = unavailable;
    view = std::make_unique<SettingsView>(preferences, loginItem);
  }

  QCheckBox* box(MenuBarItem item) const {
    return part<QCheckBox>(view.get(), ("item_" + std::string(rawValue(item))).c_str());
  }
  QAbstractButton* button(const char* name) const { return part<QAbstractButton>(view.get(), name); }
  void click(QAbstractButton* b) const { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2)); }
  void click(MenuBarItem item) const { click(box(item)); }

  Preferences preferences;
  FakeLoginItem loginItem;
  std::unique_ptr<SettingsView> view;
};

QString orDash(const std::optional<QString>& text) { return text.value_or(QStringLiteral("-")); }

QString joined(const QStringList& parts) { return parts.join(QLatin1Char('|')); }

template <class Row, class Texts>
void checkTable(const std::vector<Row>& rows, Texts texts) {
  for (const Row& row : rows) {
    const QString actual = texts(row);
    QVERIFY2(actual == QString::fromUtf8(row.expected),
             qPrintable(QStringLiteral("%1: got \"%2\"").arg(QLatin1String(row.name), actual)));
  }
}

QColor textColour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

// "(row r, column c)" of a grid's cell, counted among the tops and lefts of its kind.
QString cellPlace(const QWidget* cell) {
  std::set<int> tops, lefts;
  for (const QWidget* other : cell->parentWidget()->findChildren<QWidget*>(cell->objectName())) {
    tops.insert(other->y());
    lefts.insert(other->x());
  }
  return QStringLiteral("(row %1, column %2)")
      .arg(std::distance(tops.begin(), tops.find(cell->y())))
      .arg(std::distance(lefts.begin(), lefts.find(cell->x())));
}

// The detail page as text, with the faded rows, the icons' symbols and the size of the SoC figure.
QString detailTree(const QWidget* view) {
  return testing::widgetTree(view, [](const QWidget* w) {
    const auto* row = qobject_cast<const WattsRow*>(w);
    if (row != nullptr && row->opacity() < 1) return QStringLiteral("(faded)");
    if (const auto* icon = qobject_cast<const SymbolIcon*>(w)) return icon->name();
    if (w->objectName() == QLatin1String("socValue")) return QStringLiteral("(%1 px)").arg(w->font().pixelSize());
    return QString();
  });
}

// A monitor that only publishes what the test hands it, with the detail view
// on it. On the simulated laptop it has its system information; on a bare
// fake machine (no energy counters) its start fails and it holds an error.
struct DetailRig {
  explicit DetailRig(bool failedStart = false)
      : monitor(std::make_unique<LiveMonitor>(failedStart ? bare.platform : sim.machine.platform(), sim.options)),
        view(std::make_unique<DetailView>(*monitor, preferences)) {}

  template <typename T = QWidget>
  T* part(const char* name) const { return testing::part<T>(view.get(), name); }
  [[nodiscard]] QString text(const char* name) const { return part<QLabel>(name)->text(); }
  [[nodiscard]] bool hidden(const char* name) const { return !testing::shown(view.get(), name); }
  [[nodiscard]] QPoint at(const char* name) const { return part(name)->mapTo(view.get(), QPoint(0, 0)); }
  [[nodiscard]] QString tree() const { return detailTree(view.get()); }

  bool showAt(int width, int height) { return exposed(view.get(), {width, height}); }

  SimulatedRig sim;
  fake::FakeMachine bare;
  std::unique_ptr<LiveMonitor> monitor;
  Preferences preferences;
  std::unique_ptr<DetailView> view;
};

// A sample with the given channel lists and display figures; the other
// domain figures are fixed (CPU 3.2, GPU 1.4, ANE 0.05, memory 1.28 and other
// blocks 0.33 W in all, the image processor idle).
PowerSample sampleWith(std::vector<ChannelPower> clusters = {}, std::vector<ChannelPower> cores = {},
                       std::vector<ChannelPower> other = {}, double display = 0.92, double displayExt = 0) {
  PowerSample s = PowerSample::zero({});
  s.breakdown = EnergyBreakdown(std::move(cores), std::move(clusters), 3.2, 1.4, 0, 0.05, 0.55, 0.32, 0.41, display,
                                displayExt, 0.24, 0, 0.09, {}, std::move(other), {});
  s.total = s.breakdown.socTotal();
  s.cpu = 3.2;
  s.gpu = 1.4;
  return s;
}

// Samples of `platform` as the monitor's loop would build them, with the
// machine's description and its GPUs one by one, and with its processes as
// while a view watches them; `next` moves the machine on between samples.
std::vector<PowerSample> samplesOf(const std::shared_ptr<Platform>& platform, int count, bool withProcesses,
                                   const std::function<void()>& next) {
  PowerMetrics metrics(platform);
  BatteryReaders battery(*platform->registry);
  ProcessMeter processes(platform->processes.get(), *platform->clock);
  std::vector<PowerSample> samples;
  for (int i = 0; i < count; ++i) {
    if (withProcesses) processes.restart();
    const PowerSnapshot snapshot = metrics.sample(0.5);
    const BatteryReadings figures = battery.read();
    SampleReadings readings;
    readings.systemPower = figures.systemPower;
    readings.chargePower = figures.chargePower;
    readings.battery = figures.info;
    readings.batteryPower = figures.batteryPower;
    readings.memory = readMemoryInfo(*platform->host);
    samples.push_back(makeSample(snapshot, readings));
    samples.back().machine = std::make_shared<const MachineDescription>(metrics.description());
    samples.back().gpus = metrics.gpuFigures();
    if (withProcesses) {
      samples.back().processes = processes.next(snapshot.cpuPower()).processes;
      samples.back().processes->keepFirst(PowerSample::kProcessesKept);
    }
    next();
  }
  return samples;
}

// Samples of the simulated laptop.
std::vector<PowerSample> laptopSamples(int count, bool withProcesses = false) {
  fake::SimulatedMachine machine(fake::builtinProfile(), 7);
  return samplesOf(machine.platform(), count, withProcesses, [&] { machine.fakeClock()->advance(2.0); });
}

// A PC fixture of the Linux backend (tests/fixtures/linux/<machine>, with its
// PCI names where it has them) whose counters run on at the rates `load`
// sets, and a monitor on its own copy of the backend that reads the machine's
// system information, then holds: it publishes only what a test hands it.
struct FixtureRig {
  FixtureRig(const char* machine, const std::function<void(calorim::testing::MachineClock&)>& load)
      : tree(machine), clock(std::make_shared<calorim::testing::MachineClock>(tree.root())) {
    tree.copyProc(machine);
    const std::filesystem::path names = std::filesystem::path(FIXTURE_DIR) / "linux" / machine / "usr";
    if (std::filesystem::exists(names)) std::filesystem::copy(names, tree.root() / "usr", std::filesystem::copy_options::recursive);
    load(*clock);
    options.clock = std::make_shared<testing::SteppingClock>(held, LiveMonitor::kStartDelay);
    options.updateUrl = QString();
    monitor = std::make_unique<LiveMonitor>(sysfs::makeLinuxPlatform(tree.root(), std::make_shared<fake::FakeClock>(), ""),
                                            options);
  }

  // `count` samples 2 s apart, without processes.
  std::vector<PowerSample> samples(int count) {
    return samplesOf(sysfs::makeLinuxPlatform(tree.root(), clock, ""), count, false, [&] { clock->sleep(2.0); });
  }

  calorim::testing::MachineTree tree;
  std::shared_ptr<calorim::testing::MachineClock> clock;
  fake::FakeClock held;
  LiveMonitorOptions options;
  std::unique_ptr<LiveMonitor> monitor;
};

// Lets every posted layout request run, so a grab shows the final layout.
void settle() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

}  // namespace

// One panel on a monitor that publishes only what each test hands it; each
// settings and detail test makes its own window.
class ViewsTest : public QObject {
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
    QVERIFY(exposed(panel.get()));
  }
  void init() {
    preferences.setTempUnitRaw(QStringLiteral("celsius"));  // the panel redraws in Celsius
    testing::clearPreferences();
  }

  void rowsOfEachSample() {
    QCOMPARE(panel->width(), MenuBarPanel::kWidth);
    // The zero sample: the neural engine and DRAM have no load, so their box
    // takes no room; no fans.
    QVERIFY(pictureIs(panel.get(), "panel_zero.txt"));
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
    QVERIFY(pictureIs(panel.get(), "panel_fans_fahrenheit.txt"));

    // No reading leaves the temperature box empty; the fan rows go.
    monitor->publish(testing::sampleWith(std::nan("")));
    QCOMPARE(part<QLabel>(part(panel.get(), "cpuRow"), "temp")->text(), QString());
    QVERIFY(!shown(panel.get(), "fans") && !shown(panel.get(), "fansDivider"));
    // Only the note under the total, which the zero sample has not, is added.
    const QWidget* note = part(panel.get(), "totalNote");
    QVERIFY(note->isVisible());
    QTRY_COMPARE(panel->height(), heightWithoutFans + note->height() + MenuBarPanel::kSpacing);
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
      auto* temp = part<QLabel>(part(panel.get(), "cpuRow"), "temp");
      QCOMPARE(temp->text(), QString::fromUtf8(row.text));
      QCOMPARE(temp->palette().color(QPalette::WindowText), temperatureColour(row.level));
    }
  }

  // Up to three processes strictly over a tenth of the CPU's power, the
  // threshold and the method stated; "—" until the processes are read, "None"
  // when no process is over it; nothing without power. Shown, the panel
  // watches the processes; hidden, it does not.
  void significantProcessesOverTheThreshold() {
    QVERIFY(monitor->processesWatched());
    PowerSample s = testing::sampleWith(50);
    monitor->publish(s);
    QCOMPARE(part<QLabel>(panel.get(), "significantNone")->text(), QStringLiteral("\u2014"));
    QCOMPARE(part<QLabel>(panel.get(), "significantCaption")->text(), QStringLiteral("Processes over 10% of CPU power"));

    ProcessAttribution shared;
    shared.seconds = 0.5;
    shared.cpuPowerW = 4.0;
    shared.processes = {{2210, "Xcode", 501, 120, 1.5, 0.75},
                        {412, "WindowServer", 88, 60, 0.9, 0.45},
                        {7, "a process whose name is far too long for the panel", 501, 40, 0.6, 0.3},
                        {8, "fourth", 501, 40, 0.5, 0.25},
                        {9, "at the threshold", 501, 20, 0.4, 0.2}};
    shared.otherPowerW = 0.1;
    s.processes = shared;
    monitor->publish(s);
    QVERIFY(pictureIs(panel.get(), "panel_processes.txt"));
    QCOMPARE(part<QLabel>(panel.get(), "processName")->toolTip(), QStringLiteral("Xcode"));

    shared.method = AttributionMethod::osEnergy;
    shared.processes = {{9, "", 0, 20, 0.4, 0.2}};
    s.processes = shared;
    monitor->publish(s);
    QCOMPARE(part<QLabel>(panel.get(), "significantNone")->text(), QStringLiteral("None"));
    QVERIFY(!shown(panel.get(), "significantRow"));
    QCOMPARE(part<QLabel>(panel.get(), "significantCaption")->text(),
             QStringLiteral("Processes over 10% of CPU power, as measured by the system"));

    s.hasPower = false;
    monitor->publish(s);
    QVERIFY(pictureIs(panel.get(), "panel_no_power.txt"));

    panel->hide();
    QVERIFY(!monitor->processesWatched());
    QVERIFY(exposed(panel.get()) && monitor->processesWatched());
    monitor->publish(PowerSample::zero({}));
  }

  void updateLinkOnlyWhenAnUpdateExists() {
    testing::CannedHttpServer server;
    server.answer(200, "{\"version\":\"9.1.0\",\"url\":\"https://calorim.invalid/download\"}");
    // One real sample, then the update check.
    SimulatedRig rig(LiveMonitor::kPause, server.url());
    auto monitor = rig.makeMonitor();
    Preferences preferences;
    MenuBarPanel panel(*monitor, preferences, {});
    QVERIFY(exposed(&panel));

    // Without an update the quit button ends the panel.
    QVERIFY(!shown(&panel, "updateLink") && !shown(&panel, "updateDivider"));
    QWidget* quit = part(&panel, "quitButton");
    QCOMPARE(quit->geometry().bottom() + 1 + MenuBarPanel::kMargin, panel.height());

    QVERIFY(testing::waitUntil([&] { return monitor->updateAvailable().has_value(); }));
    auto* link = part<QLabel>(&panel, "updateLink");
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

  void defaultsAndTheAtMostThreeRule() {
    {
      SettingsRig rig;
      // Unticking the only item keeps it ticked.
      rig.click(MenuBarItem::socPower);
      QVERIFY(pictureIs(rig.view.get(), "settings_defaults.txt"));
      QCOMPARE(rig.preferences.menuBarItemsRaw(), QStringLiteral("socPower"));
      // Three ticked: the rest disabled, and a click on one of them changes nothing.
      rig.click(MenuBarItem::gpuPower);
      rig.click(MenuBarItem::cpuTemp);
      rig.click(MenuBarItem::ramFreeGB);
      QVERIFY(pictureIs(rig.view.get(), "settings_three_items.txt"));
      QCOMPARE(rig.preferences.menuBarItemsRaw(), QStringLiteral("cpuTemp,gpuPower,socPower"));
      rig.click(MenuBarItem::gpuPower);
      QVERIFY(rig.box(MenuBarItem::ramFreeGB)->isEnabled());
    }
    // Four stored (written by hand): all shown, the rest disabled until three are left.
    SettingsRig rig(QStringLiteral("ramFreeGB,gpuTemp,cpuPower,socPower"));
    QVERIFY(pictureIs(rig.view.get(), "settings_four_stored.txt"));
    rig.click(MenuBarItem::ramFreeGB);
    QCOMPARE(rig.preferences.menuBarItemsRaw(), QStringLiteral("cpuPower,gpuTemp,socPower"));
    QVERIFY(!rig.box(MenuBarItem::ramFreeGB)->isEnabled());
    // Unticking the only item left falls back to the default.
    SettingsRig single(QStringLiteral("cpuPower"));
    single.click(MenuBarItem::cpuPower);
    QVERIFY(single.box(MenuBarItem::socPower)->isChecked() && !single.box(MenuBarItem::cpuPower)->isChecked());
  }

  void launchAtLoginShowsTheRealState() {
    SettingsRig rig;
    QVERIFY(!rig.button("launchAtLogin")->isChecked());
    rig.click(rig.button("launchAtLogin"));
    QVERIFY(rig.loginItem.enabled);
    QVERIFY(rig.button("launchAtLogin")->isChecked());

    // Registered elsewhere: seen when the window is made.
    SettingsRig registered(QString(), /*registered=*/true);
    QVERIFY(registered.button("launchAtLogin")->isChecked());
    auto* note = part<QLabel>(registered.view.get(), "loginItemNote");
    QVERIFY(note->isHidden());
    // A removal that fails leaves the toggle on, as the registration is, and
    // says why in the system's words.
    registered.loginItem.failure = QStringLiteral("Operation not permitted");
    registered.click(registered.button("launchAtLogin"));
    QCOMPARE(registered.loginItem.writes, 1);
    QVERIFY(registered.button("launchAtLogin")->isChecked());
    QCOMPARE(note->text(), QStringLiteral("The login item could not be changed: Operation not permitted"));
    QVERIFY(!note->isHidden());
    // The next change that works clears it.
    registered.loginItem.failure = QString();
    registered.click(registered.button("launchAtLogin"));
    QVERIFY(!registered.button("launchAtLogin")->isChecked());
    QVERIFY(note->isHidden());

    // Run from a temporary copy: disabled, with the reason.
    SettingsRig copy(QString(), false, localized("settings.loginItemTranslocated"));
    QVERIFY(exposed(copy.view.get(), copy.view->sizeHint()));
    QVERIFY(!copy.button("launchAtLogin")->isEnabled());
    note = part<QLabel>(copy.view.get(), "loginItemNote");
    QVERIFY(!note->isHidden() && note->text().contains(QStringLiteral("Move Calorim to your Applications folder")));
    QVERIFY(testing::saveScreenshot(copy.view->grab(), QStringLiteral("settings_translocated.png")));
  }

  void sizedToItsContentWithTheMenuBarsOwnExamples() {
    SettingsRig rig(QStringLiteral("cpuTemp,gpuPower,socPower"), /*registered=*/true);
    QVERIFY(exposed(rig.view.get(), rig.view->sizeHint()));
    QVERIFY(rig.view->width() >= SettingsView::kMinimumWidth);
    // Every section shows at once, each control at its full width.
    auto* scroll = rig.view->findChild<QScrollArea*>();
    QTRY_COMPARE(scroll->verticalScrollBar()->maximum(), 0);
    for (QAbstractButton* b : rig.view->findChildren<QAbstractButton*>()) {
      QVERIFY2(b->width() >= b->sizeHint().width(), qPrintable(b->text()));
    }
    QVERIFY(testing::saveScreenshot(rig.view->grab(), QStringLiteral("settings.png")));

    // Each style shows the line the menu bar makes of the chosen items, and
    // follows the unit.
    QCOMPARE(rig.button("style_full")->text(), QStringLiteral("Full (SoC7.8W \u00B7 GPU1.1W \u00B7 CPU47\u00B0)"));
    QCOMPARE(rig.button("style_short")->text(), QStringLiteral("Short (T7.8W \u00B7 G1.1W \u00B7 C47\u00B0)"));
    // Unit and style are stored at once.
    rig.click(rig.button("fahrenheitSegment"));
    QCOMPARE(rig.preferences.tempUnitRaw(), QStringLiteral("fahrenheit"));
    QVERIFY(!rig.button("celsiusSegment")->isChecked());
    QCOMPARE(rig.button("style_minimal")->text(), QStringLiteral("Minimal (8 \u00B7 1 \u00B7 117)"));
    rig.click(rig.box(MenuBarItem::gpuPower));
    rig.click(rig.box(MenuBarItem::cpuTemp));
    QCOMPARE(rig.button("style_full")->text(), QStringLiteral("Full (SoC 7.8W)"));
    rig.click(rig.button("style_minimal"));
    QCOMPARE(rig.preferences.menuBarStyleRaw(), QStringLiteral("minimal"));
    rig.click(rig.button("style_short"));
    QCOMPARE(rig.preferences.menuBarStyleRaw(), QStringLiteral("short"));
    // Stored texts outside the raw values show their fallbacks.
    rig.preferences.setTempUnitRaw(QStringLiteral("Fahrenheit"));
    rig.preferences.setMenuBarStyleRaw(QStringLiteral("Full"));
    QVERIFY(rig.button("celsiusSegment")->isChecked() && rig.button("style_full")->isChecked());

    // Made smaller, the form scrolls.
    rig.view->resize(SettingsView::kMinimumWidth, 240);
    QTRY_VERIFY(scroll->verticalScrollBar()->maximum() > 0);
  }

  void heroTexts() {
    struct Row {
      const char* name;
      bool hasPower;
      double total, system;
      std::optional<double> platform;
      const char* expected;  // caption|system|soc caption and value|peak|avg
      std::vector<ChannelPower> domains{};
    };
    checkTable(std::vector<Row>{
                   {"no system power", true, 7.24, 0, {}, "-|-|SoC Total 7.2 W|Peak: 8.0 W|Avg: 7.6 W"},
                   {"system power", true, 8.04, 31.46, {}, "System Total|31.5 W|SoC Total 8.0 W|Peak: 8.0 W|Avg: 7.6 W"},
                   {"no power figures", false, 8.04, 0, {}, "-|-|SoC Total —|Peak: 8.0 W|Avg: 7.6 W"},
                   {"the platform beside the total it holds", true, 13.5, 0, 20.04,
                    "Platform|20.0 W|SoC Total 13.5 W|Peak: 8.0 W|Avg: 7.6 W"},
                   {"the system's input before the platform", true, 13.5, 31.46, 20.04,
                    "System Total|31.5 W|SoC Total 13.5 W|Peak: 8.0 W|Avg: 7.6 W"},
                   {"no platform without power figures", false, 13.5, 0, 20.04,
                    "-|-|SoC Total —|Peak: 8.0 W|Avg: 7.6 W"},
                   {"a PC's total is no chip's", true, 13.5, 0, 20.04,
                    "Platform|20.0 W|Total 13.5 W|Peak: 8.0 W|Avg: 7.6 W", {ChannelPower("Package", 12.0)}},
               },
               [](const Row& r) {
                 PowerSample s = PowerSample::zero({});
                 s.hasPower = r.hasPower;
                 s.total = r.total;
                 s.systemPower = r.system;
                 s.platform = r.platform;
                 s.breakdown = EnergyBreakdown({}, {}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}, {}, r.domains);
                 const HeroTexts t = calorim::app::heroTexts(s, 8.04, 7.6);
                 return joined({orDash(t.systemCaption), orDash(t.systemValue), t.socCaption + QLatin1Char(' ') + t.socValue, t.peak, t.avg});
               });
  }

  void batteryTexts() {
    struct Row {
      const char* name;
      std::int64_t percent;
      bool charging;
      std::int64_t adapterWatts;
      double chargingPower, discharge;
      const char* expected;  // percent|icon|adapter|charging|boost, or "none"
    };
    checkTable(std::vector<Row>{
                   {"no battery: nothing, adapter neither", 0, true, 96, 20, 5, "none"},
                   {"charging 1.0 W: no charging text", 76, true, 96, 1.0, 0,
                    "76% ⚡|battery.100.bolt|96 W @ 20 V|-|-"},
                   {"charging 1.4 W", 76, true, 96, 1.4, 0, "76% ⚡|battery.100.bolt|96 W @ 20 V|⚡ 1 W charging|-"},
                   {"on battery, boost", 1, false, 0, 0, 12.6, "1%|battery.75|-|-|🔋 13 W boost"},
                   {"discharge 1.0 W: no boost", 50, false, 0, 0, 1.0, "50%|battery.75|-|-|-"},
               },
               [](const Row& r) {
                 PowerSample s = PowerSample::zero({});
                 s.batteryPercent = r.percent;
                 s.isCharging = r.charging;
                 s.adapterWatts = r.adapterWatts;
                 s.adapterVoltage = 20.2;
                 s.chargingPower = r.chargingPower;
                 s.batteryDischargeW = r.discharge;
                 const auto t = calorim::app::batteryTexts(s);
                 return t ? joined({t->percent, t->icon, orDash(t->adapter), orDash(t->charging), orDash(t->boost)})
                          : QStringLiteral("none");
               });
  }

  void memoryTexts() {
    struct Row {
      const char* name;
      double used, total, swap;
      const char* expected;  // ram|swap, or "none"
    };
    checkTable(std::vector<Row>{
                   {"swap of 0.01 GB: none", 11.4, 18, 0.01, "RAM 11/18 GB|-"},
                   {"no RAM size: nothing", 11.4, 0, 2, "none"},
                   // Rounded as the machine card rounds the same memory.
                   {"24.9 GB as 25", 23.5, 24.9, 0, "RAM 24/25 GB|-"},
                   {"used beyond a figure", std::numeric_limits<double>::infinity(), 24.9, 0, "RAM \u2014/25 GB|-"},
               },
               [](const Row& r) {
                 PowerSample s = PowerSample::zero({});
                 s.ramUsedGB = r.used;
                 s.ramTotalGB = r.total;
                 s.swapUsedGB = r.swap;
                 const auto t = calorim::app::memoryTexts(s);
                 return t ? joined({t->ram, orDash(t->swap)}) : QStringLiteral("none");
               });
  }

  void smallFigures() {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
      const char* name;
      QString actual;
      const char* expected;
    };
    const SystemInfo machine("Chip", 4, 12345, 10, 24.9, "Mac", "15");
    const MachineTexts m = machineTexts(machine);
    checkTable(std::vector<Row>{
                   {"cores, without group separators", m.cores, "4E+12345P"},
                   {"one kind of core: no split", machineTexts(SystemInfo("C", 0, 8, 0, 32, "M", "1")).cores, "8 cores"},
                   {"GPU cores", m.gpuCores, "10 GPU"},
                   {"memory, rounded as the RAM line rounds it", m.memory, "25 GB"},
                   {"memory beyond an int64", machineTexts(SystemInfo("C", 1, 1, 1, inf, "M", "1")).memory, "— GB"},
                   {"fan: infinite", fanSpeedText(inf), "—"},
                   {"fan: NaN", fanSpeedText(std::nan("")), "—"},
                   {"fan: 1e19", fanSpeedText(1e19), "—"},
                   {"fan: -1e19", fanSpeedText(-1e19), "—"},
                   {"fan: 9.2e18", fanSpeedText(9.2e18), "9200000000000000000 RPM"},
                   // Colours are judged in Celsius: hot from 90, warm from 70.
                   {"69.9 °C", QString::number(int(temperatureLevel(69.9))), "0"},
                   {"70 °C", QString::number(int(temperatureLevel(70))), "1"},
                   {"89.9 °C", QString::number(int(temperatureLevel(89.9))), "1"},
                   {"90 °C", QString::number(int(temperatureLevel(90))), "2"},
                   {"NaN", QString::number(int(temperatureLevel(std::nan("")))), "0"},
               },
               [](const Row& r) { return r.actual; });
  }

  void readableNameAppliesTheFirstMatchingRule() {
    const std::vector<std::pair<QString, QString>> rows{
        {"PACC_CPU", "P-Cluster"},  // empty middle
        {"EACC_CPU3", "E-Core 3"},
        {"EACC_CPU12", "E-Core 2"},  // the last character only
        {"PACC1_CPU4", "P1-Core 4"},  // cluster, then core
        {"PACC0_CPU1_X", "PACC0_CPU1_X"},  // three pieces
        {"PACC0__CPU4", "P0-Core 4"},  // empty pieces dropped
        {"PACC1_CPUX", "PACC1_CPUX"},  // no digit at the end
        {"EACC_CPU_X", "EACC_CPU_X"},
        {QStringLiteral("EACC_CPU\u0663"), QStringLiteral("E-Core \u0663")},  // a non-ASCII digit
        {"eacc_cpu3", "eacc_cpu3"},  // case-sensitive
        {"GPU0", "GPU0"},
        {"PCPU", "PCPU"},
        {"", ""},
    };
    for (const auto& [name, expected] : rows) {
      QCOMPARE(readableName(QStringView(name)), expected);
      QCOMPARE(readableName(std::string_view(name.toStdString())), expected);
    }
  }

  // Each widget through a run of values, as text with the colour of each
  // figure, a row's opacity, a bar's level and a grid cell's place. Shown and
  // hidden, faded and opaque take turns, so each way between them is taken. A
  // header shows a temperature only above zero, coloured by its Celsius value;
  // a row fades when idle unless bold; bars are capped while texts show the
  // true value; grids fill their columns row by row in list order.
  void widgetsThroughTheirValues() {
    QString out;
    const auto picture = [&](const QString& title, const QWidget& widget) {
      out += title + QLatin1Char('\n') + testing::widgetTree(&widget, [](const QWidget* w) {
        if (const auto* bar = qobject_cast<const LevelBar*>(w)) return QString::number(bar->level());
        if (w->objectName().endsWith(QLatin1String("Cell"))) return cellPlace(w);
        const auto* label = qobject_cast<const QLabel*>(w);
        const bool figure = QStringList{"temp", "watts", "value"}.contains(w->objectName());
        return figure ? textColour(label).name(QColor::HexArgb) : QString();
      });
    };
    SectionHeader header;
    for (const auto& [temp, unit] : std::vector<std::pair<double, TempUnit>>{
             {55, TempUnit::celsius}, {0, TempUnit::celsius}, {70, TempUnit::celsius}, {-4, TempUnit::celsius},
             {90, TempUnit::fahrenheit}, {30, TempUnit::fahrenheit}}) {
      header.setValues(QStringLiteral("CPU"), 3.14159, temp, unit);
      const char* shown = unit == TempUnit::celsius ? "°C" : "°F";
      picture(QStringLiteral("header at %1 °C in %2").arg(temp).arg(QString::fromUtf8(shown)), header);
    }
    WattsRow row(false);
    WattsRow bold(true);
    for (const double watts : {0.009, 0.01, -0.5, 1.23456}) {
      row.setValues(QStringLiteral("DRAM"), watts);
      picture(QStringLiteral("row at %1 W, opacity %2").arg(watts).arg(row.opacity()), row);
    }
    bold.setValues(QStringLiteral("DRAM"), 0.009);
    picture(QStringLiteral("bold row at 0.009 W, opacity %1").arg(bold.opacity()), bold);
    ClusterBar cluster(Qt::cyan);
    UsageBar usage(Qt::green);
    const std::vector<std::pair<double, double>> loads{{1.3, 2.5}, {0.456, 1.234}, {-0.2, 0}};
    for (const auto& [fraction, watts] : loads) {
      cluster.setValues(QStringLiteral("Efficiency"), fraction, watts);
      usage.setUsage(fraction, QStringLiteral("GPU"));
      picture(QStringLiteral("cluster bar at %1, %2 W").arg(fraction).arg(watts), cluster);
      picture(QStringLiteral("usage bar at %1").arg(fraction), usage);
    }
    ChannelGrid channels;
    CoreTempGrid temps;
    for (LabelGrid* grid : std::initializer_list<LabelGrid*>{&channels, &temps}) {
      grid->resize(400, 60);
      grid->show();
    }
    const auto gridPicture = [&](const QString& title, const LabelGrid& grid) {
      settle();
      picture(title, grid);
    };
    channels.setChannels({{"EACC_CPU0", 0.1234}, {"PACC0_CPU1", 1.0}, {"GPU SRAM", 0.0004}});
    gridPicture(QStringLiteral("channel grid of three"), channels);
    // The same number of channels relabels the cells it has.
    const QPointer<QLabel> first = channels.nameLabel(0);
    channels.setChannels({{"ECPU", 0.5}, {"SOC_AON", 0.04}, {"ISP2", 0.0}});
    QCOMPARE(channels.nameLabel(0), first.data());
    gridPicture(QStringLiteral("the same, relabelled"), channels);
    channels.setChannels({{"ECPU", 0.5}});
    QCOMPARE(channels.findChildren<QWidget*>(QStringLiteral("channelCell")).size(), 1);
    gridPicture(QStringLiteral("channel grid of one"), channels);
    temps.setTemps({45, 75, 95, 60}, TempUnit::celsius);
    gridPicture(QStringLiteral("core temperatures in °C"), temps);
    temps.setTemps({30, 91}, TempUnit::fahrenheit);
    gridPicture(QStringLiteral("core temperatures at 30 and 91 °C in °F"), temps);
    QVERIFY(testing::matchesGolden(GOLDEN_DIR "/detail_widgets.txt", out));

    // However wide, a usage bar's own bar is at most 200 px, its percentage beside it.
    QVERIFY(exposed(&usage, {600, 30}));
    const auto* level = testing::part<LevelBar>(&usage, "bar");
    QCOMPARE(level->width(), UsageBar::kMaxBarWidth);
    QVERIFY(testing::part(&usage, "percent")->geometry().left() >= level->geometry().right());
  }

  void historyLinePoints() {
    struct Row {
      const char* name;
      std::vector<double> totals;
      QList<QPointF> points;  // on a 300 x 40 canvas
    };
    const std::vector<Row> rows{
        {"none", {}, {}},
        {"one", {5}, {}},
        {"equal: flat on the bottom", {4, 4, 4}, {{0, 40}, {150, 40}, {300, 40}}},
        {"varied: min bottom, max top", {1, 3, 2, 1.5}, {{0, 40}, {100, 0}, {200, 20}, {300, 30}}},
        {"span of 0.05 against 0.1", {2, 2.05}, {{0, 40}, {300, 20}}},
    };
    for (const Row& row : rows) QVERIFY2(HistoryLine::pointsFor(row.totals, {300, 40}) == row.points, row.name);
  }

  // The texts themselves are tabled above; here the page shows
  // each in its place, and hides the parts without one.
  void pageOfEachSample() {
    DetailRig rig;
    QVERIFY(rig.showAt(1000, 1400));
    QTRY_VERIFY(rig.monitor->systemInfo().has_value());
    PowerSample s = sampleWith();
    s.total = 7.24;
    rig.monitor->publish(s);

    s = sampleWith({{"EACC_CPU", 0.6}, {"PACC0_CPU", 0.004}},
                   {{"EACC_CPU0", 0.11}, {"PACC0_CPU1", 0.5}, {"PACC0_CPU2", 0.25}},
                   {{"GPU SRAM", 0.15}, {"SOC_AON", 0.04}});
    s.total = 8.04;
    s.systemPower = 31.46;
    s.isCharging = true;
    s.batteryPercent = 80;
    s.adapterWatts = 140;
    s.adapterVoltage = 28;
    s.chargingPower = 30;
    s.batteryDischargeW = 9;
    s.ramUsedGB = 11.4;
    s.ramTotalGB = 18;
    s.swapUsedGB = 0.44;
    s.cpuTemp = 71;
    s.eCpu = 0.6;
    s.eCpuUsage = 0.25;
    s.pCpu = 1.6;
    s.pCpuUsage = 1.2;
    s.coreTemps = {50, 91};
    s.gpuUsage = 0.31;
    s.gpuFreqMHz = 1296.4;
    s.fans = {FanInfo(2, 1200.9), FanInfo(0, 2400), FanInfo(1, -0.5)};
    rig.monitor->publish(s);
    QVERIFY(rig.hidden("unclassifiedGrid"));  // collapsed until opened
    rig.part<QToolButton>("unclassifiedToggle")->click();
    QVERIFY(testing::matchesGolden(GOLDEN_DIR "/detail_full.txt", rig.tree()));
    HistoryLine* line = rig.view->historyLine();
    QCOMPARE(line->points(), HistoryLine::pointsFor({7.24, 8.04}, line->size()));
    QVERIFY(rig.at("avgLabel").x() > rig.at("peakLabel").x() + 300);
    // The memory group stands at the right end of the status row.
    const int heroRight = rig.at("heroCard").x() + rig.part("heroCard")->width();
    QTRY_VERIFY(rig.at("memoryGroup").x() + rig.part("memoryGroup")->width() > heroRight - 40);

    // The same shapes again: no widget is made or dropped, no card moves.
    const QList<QWidget*> before = rig.view->findChildren<QWidget*>();
    QMap<QString, QRect> geometry;
    for (const char* card : {"cpuCard", "gpuCard", "memoryCard", "fansCard", "unclassifiedCard"}) {
      geometry[QLatin1String(card)] = QRect(rig.at(card), rig.part(card)->size());
    }
    s.fans = {FanInfo(2, 1300), FanInfo(0, 2400), FanInfo(1, 0)};
    s.coreTemps = {51, 61};
    rig.monitor->publish(s);
    QCoreApplication::processEvents();
    QCOMPARE(rig.view->findChildren<QWidget*>(), before);
    for (auto it = geometry.cbegin(); it != geometry.cend(); ++it) {
      const QByteArray name = it.key().toLatin1();
      QCOMPARE(QRect(rig.at(name.constData()), rig.part(name.constData())->size()), it.value());
    }
    QCOMPARE(testing::part<QLabel>(rig.part("fansRow"), "fanRpm")->text(), QStringLiteral("1300 RPM"));
    // A new unit redraws at once.
    rig.preferences.setTempUnit(TempUnit::fahrenheit);
    QCOMPARE(testing::part<QLabel>(rig.part("cpuHeader"), "temp")->text(), QStringLiteral("160°F"));

    // Without system power, adapter, charging, boost, swap, lists, core
    // temperatures, GPU frequency or fans those parts go; a display card only
    // while a display draws power.
    s = sampleWith({}, {}, {}, 0.001);
    s.batteryPercent = 50;
    s.ramUsedGB = 11.4;
    s.ramTotalGB = 18;
    rig.monitor->publish(s);
    QVERIFY(testing::matchesGolden(GOLDEN_DIR "/detail_bare.txt", rig.tree()));
    rig.monitor->publish(sampleWith({}, {}, {}, 0.001, 0.0011));
    QVERIFY(!rig.hidden("displayCard") && rig.hidden("displayInternalRow") && !rig.hidden("displayExternalRow"));
  }

  // The PC fixtures through the Linux backend, as their users see them: only
  // what each machine measures (no neural engine, none of the chip's other
  // blocks), a card's power in the GPU card, the cores as the machine has
  // them, and with two cards each on its own row with its own figures. The
  // tray text shows "—" for a stored choice the machine lacks.
  void pcFixturesShowWhatTheyMeasure() {
    using calorim::testing::MachineClock;
    const auto desktopLoad = [](MachineClock& clock) {
      clock.setEnergyRate("intel-rapl:0", 60'000'000);
      clock.setEnergyRate("intel-rapl:0:0", 40'000'000);
      for (int cpu = 0; cpu < 16; ++cpu) clock.setTickRates(cpu, calorim::testing::TickRates{20, 0, 5, 75});
    };
    const struct {
      const char* machine;
      std::function<void(MachineClock&)> load;
    } machines[] = {
        // An AMD desktop, one kind of core, its Radeon drawing 31 W.
        {"desktop", desktopLoad},
        // An Intel hybrid laptop: both kinds of core, DRAM, graphics in the package.
        {"laptop", [](MachineClock& clock) { calorim::testing::setSteadyLaptopLoad(clock); }},
        // A Radeon and an Arc, the Arc busy three quarters of the time.
        {"dualgpu",
         [&](MachineClock& clock) {
           desktopLoad(clock);
           clock.setCounterRate("sys/class/hwmon/hwmon4/energy1_input", 95'000'000);
           clock.setCounterRate("sys/devices/pci0000:00/0000:00:01.0/0000:01:00.0/0000:02:01.0/0000:03:00.0/"
                                "tile0/gt0/gtidle/idle_residency_ms",
                                250);
         }},
    };
    for (const auto& m : machines) {
      const std::string name(m.machine);
      FixtureRig rig(m.machine, m.load);
      Preferences preferences;
      DetailView view(*rig.monitor, preferences);
      QVERIFY(exposed(&view, {1000, 1100}));
      QTRY_VERIFY(rig.monitor->systemInfo().has_value());
      const std::vector<PowerSample> samples = rig.samples(3);
      for (const PowerSample& s : samples) rig.monitor->publish(s);
      settle();
      QVERIFY2(testing::matchesGolden(GOLDEN_DIR "/detail_pc_" + name + ".txt", detailTree(&view)), m.machine);
      QVERIFY(testing::saveScreenshot(view.grab(), QString::fromStdString("detail_pc_" + name + ".png")));

      MenuBarPanel pcPanel(*rig.monitor, preferences, {});
      QVERIFY(exposed(&pcPanel));
      settle();
      QVERIFY2(pictureIs(&pcPanel, ("panel_pc_" + name + ".txt").c_str()), m.machine);
      QVERIFY(testing::saveScreenshot(pcPanel.grab(), QString::fromStdString("panel_pc_" + name + ".png")));

      if (name != "desktop") continue;
      // The card's own power is the GPU's, in the card and in the tray.
      QCOMPARE(testing::part<QLabel>(testing::part(&view, "gpuHeader"), "watts")->text(), QStringLiteral("31.00 W"));
      PowerSample s = samples.back();
      const std::string measured = menuBarText(s, "socPower,gpuPower", "full", "celsius");
      QVERIFY2(measured.ends_with("31.0W"), measured.c_str());
      MachineDescription lacking = *s.machine;
      lacking.measured.gpuPower = false;
      s.machine = std::make_shared<const MachineDescription>(lacking);
      const std::string absent = menuBarText(s, "socPower,gpuPower", "full", "celsius");
      QVERIFY2(absent.ends_with("\u2014") && absent.starts_with(measured.substr(0, measured.find(' '))),
               absent.c_str());
    }
  }

  // Settings offer only the items this machine measures; a stored choice it
  // lacks stays stored, ticked and marked, until the user unticks it.
  void settingsOfferWhatTheMachineMeasures() {
    SettingsRig rig(QStringLiteral("gpuTemp,socPower"));
    const auto offered = [&](MenuBarItem item) { return rig.box(item)->isVisibleTo(rig.view.get()); };
    MachineDescription pc;
    pc.measured.cpuPower = pc.measured.totalPower = pc.measured.cpuTemp = pc.measured.cpuUsage = true;
    rig.view->setMachine(std::make_shared<const MachineDescription>(pc));
    // No GPU figure is offered; the stored GPU temperature stays, ticked and marked.
    QVERIFY(pictureIs(rig.view.get(), "settings_pc.txt"));
    QVERIFY(exposed(rig.view.get(), rig.view->sizeHint()));
    QVERIFY(testing::saveScreenshot(rig.view->grab(), QStringLiteral("settings_pc.png")));
    QVERIFY(!offered(MenuBarItem::gpuPower) && !offered(MenuBarItem::gpuUsage));
    QVERIFY(offered(MenuBarItem::gpuTemp) && rig.box(MenuBarItem::gpuTemp)->isChecked());
    QVERIFY(offered(MenuBarItem::systemPower) && offered(MenuBarItem::ramFreeGB));
    QCOMPARE(rig.preferences.menuBarItemsRaw(), QStringLiteral("gpuTemp,socPower"));
    // Unticked by the user, it goes, and is offered again on a machine that measures it.
    rig.click(MenuBarItem::gpuTemp);
    QCOMPARE(rig.preferences.menuBarItemsRaw(), QStringLiteral("socPower"));
    QVERIFY(!offered(MenuBarItem::gpuTemp));
    pc.measured.gpuTemp = true;
    rig.view->setMachine(std::make_shared<const MachineDescription>(pc));
    QVERIFY(offered(MenuBarItem::gpuTemp) && rig.box(MenuBarItem::gpuTemp)->text() == label(MenuBarItem::gpuTemp));
  }

  // One GPU's figures in the GPU card's list: each one the machine does not
  // measure as "—" with its unit, never 0.
  void gpuFiguresOfEachGpu() {
    struct Row {
      const char* name;
      GpuFigures gpu;
      TempUnit unit;
      const char* expected;
    };
    const std::vector<Row> rows = {
        {"all measured", {"A", 31.004, 0.37, 1835, 41.4}, TempUnit::celsius, "31.00 W · 37% · 1835 MHz · 41°C"},
        {"nothing measured", {"B", {}, {}, {}, {}}, TempUnit::fahrenheit, "— W · —% · — MHz · —°F"},
        {"idle, measured", {"C", 0.0, 0.0, 300, {}}, TempUnit::celsius, "0.00 W · 0% · 300 MHz · —°C"},
        {"busy beyond all", {"D", {}, 2.5, {}, 50}, TempUnit::fahrenheit, "— W · 100% · — MHz · 122°F"},
    };
    checkTable(rows, [](const Row& row) { return gpuFiguresText(row.gpu, row.unit); });
  }

  // An Intel laptop: its RAPL domains are listed by the machine's own names
  // in place of unclassified channels, without a sum (they overlap), and the
  // whole platform's power is a row of its own below the panel's total, never
  // part of it. Without a description (or on the simulated laptop) there is no
  // platform row.
  void aPcLaptopNamesItsDomains() {
    PowerSample s = PowerSample::zero({});
    s.breakdown = EnergyBreakdown({}, {}, 5.0, 2.0, 0, 0, 1.5, 0, 0, 0, 0, 0, 0, 0, {},
                                  {ChannelPower("Package rest", 5.0)},
                                  {ChannelPower("Package", 12.0), ChannelPower("Cores", 5.0),
                                   ChannelPower("Graphics", 2.0), ChannelPower("DRAM", 1.5),
                                   ChannelPower("Platform", 20.0)});
    s.total = s.breakdown.socTotal();
    s.cpu = 5.0;
    s.gpu = 2.0;
    s.dram = 1.5;
    s.platform = 20.0;
    MachineDescription pc;
    pc.measured.cpuPower = pc.measured.gpuPower = pc.measured.dramPower = pc.measured.totalPower = true;
    pc.measured.platformPower = true;
    s.machine = std::make_shared<const MachineDescription>(pc);

    DetailRig rig;
    QVERIFY(rig.showAt(1000, 1100));
    QTRY_VERIFY(rig.monitor->systemInfo().has_value());
    rig.monitor->publish(s);
    rig.part<QToolButton>("unclassifiedToggle")->click();
    QVERIFY(pictureIs(rig.part("unclassifiedCard"), "detail_domains.txt"));

    const SimulatedRig sim;
    auto pcMonitor = sim.makeMonitor();
    pcMonitor->publish(s);
    Preferences preferences;
    MenuBarPanel pcPanel(*pcMonitor, preferences, {});
    QVERIFY(exposed(&pcPanel));
    QVERIFY(pictureIs(&pcPanel, "panel_platform.txt"));

    s.machine = nullptr;
    pcMonitor->publish(s);
    QVERIFY(!shown(&pcPanel, "platformRow"));
  }

  void errorBannerAboveThePage() {
    DetailRig failed(true);
    QVERIFY(failed.showAt(600, 900));
    // The monitor's worker finds the failure and reads the machine's description.
    QTRY_VERIFY(failed.monitor->error().has_value() && failed.monitor->systemInfo().has_value());
    // A machine without counters: the notice says so, and what still works.
    QCOMPARE(failed.text("energyNotice"), localized("energy.absent"));
    QVERIFY(!failed.hidden("energyNotice") && !failed.hidden("errorBanner"));
    QCOMPARE(failed.text("errorText"), *failed.monitor->error());
    QVERIFY(failed.at("errorBanner").y() < failed.at("heroCard").y());
    // The rest of the page keeps showing whatever was published last.
    PowerSample s = sampleWith();
    s.total = 5;
    failed.monitor->publish(s);
    QCOMPARE(failed.text("socValue"), QStringLiteral("5.0 W"));
    settle();
    QVERIFY(testing::saveScreenshot(failed.view->grab(), QStringLiteral("detail_error.png")));
  }

  void pauseClearedAfterShowingAndAtOnceOnClosing() {
    DetailRig rig;
    rig.monitor->setPaused(true);
    rig.view->resize(600, 900);
    rig.view->show();
    QVERIFY(rig.monitor->isPaused());  // not before the delay
    QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->isPaused(), 10000);

    rig.monitor->setPaused(true);
    rig.view->close();
    QVERIFY(!rig.monitor->isPaused());
  }

  // The processes card and the panel's section on the simulated laptop, as
  // text and as pictures; each view watches the processes while it is shown.
  void processesOfTheSimulatedLaptop() {
    DetailRig rig;
    QVERIFY(!rig.monitor->processesWatched());
    for (const PowerSample& s : laptopSamples(3, true)) rig.monitor->publish(s);
    QVERIFY(rig.showAt(600, 1400));
    QVERIFY(rig.monitor->processesWatched());
    settle();
    QWidget* card = rig.part("processesCard");
    QVERIFY(testing::matchesGolden(GOLDEN_DIR "/detail_processes.txt", testing::widgetTree(card)));
    QVERIFY(testing::saveScreenshot(card->grab(), QStringLiteral("detail_processes.png")));

    Preferences panelPreferences;
    MenuBarPanel laptopPanel(*rig.monitor, panelPreferences, {});
    QVERIFY(exposed(&laptopPanel));
    settle();
    QVERIFY(pictureIs(&laptopPanel, "panel_processes_laptop.txt"));
    QVERIFY(testing::saveScreenshot(laptopPanel.grab(), QStringLiteral("panel_processes.png")));

    rig.view->hide();
    QVERIFY(rig.monitor->processesWatched());
    laptopPanel.hide();
    QVERIFY(!rig.monitor->processesWatched());
  }

  void screenshotsOfTheSimulatedLaptop() {
    DetailRig rig;
    for (const PowerSample& s : laptopSamples(12, true)) rig.monitor->publish(s);

    QVERIFY(rig.showAt(600, 1180));
    QVERIFY(!rig.view->isWide());
    settle();
    QVERIFY(testing::saveScreenshot(rig.view->grab(), QStringLiteral("detail_narrow.png")));

    // One column up to 780 px, two above.
    rig.view->resize(780, 900);
    QTRY_COMPARE(rig.at("memoryCard").x(), rig.at("cpuCard").x());
    QVERIFY(!rig.view->isWide());
    QVERIFY(rig.at("memoryCard").y() > rig.at("aneCard").y() && rig.at("aneCard").y() > rig.at("gpuCard").y());
    rig.view->resize(781, 900);
    QTRY_VERIFY(rig.view->isWide());
    QTRY_VERIFY(rig.at("memoryCard").x() > rig.at("cpuCard").x() + rig.part("cpuCard")->width());
    // Both columns start at the top; the right one keeps its order.
    QCOMPARE(rig.at("memoryCard").y(), rig.at("cpuCard").y());
    QVERIFY(rig.at("otherSocCard").y() > rig.at("memoryCard").y());
    QVERIFY(qAbs(rig.part("memoryCard")->width() - rig.part("cpuCard")->width()) <= 1);  // equal halves

    rig.view->resize(1000, 760);
    QTRY_VERIFY(rig.view->isWide());
    rig.part<QToolButton>("unclassifiedToggle")->click();
    settle();
    QVERIFY(testing::saveScreenshot(rig.view->grab(), QStringLiteral("detail_wide.png")));

    rig.preferences.setTempUnit(TempUnit::fahrenheit);
    // The window's narrowest: every card still fits across.
    rig.view->resize(420, 1400);
    QTRY_VERIFY(!rig.view->isWide());
    settle();
    QVERIFY(testing::saveScreenshot(rig.view->grab(), QStringLiteral("detail_fahrenheit_narrow.png")));
    for (const char* card : {"heroCard", "cpuCard", "gpuCard", "fansCard", "systemInfoCard"}) {
      QVERIFY2(rig.at(card).x() + rig.part(card)->width() <= rig.view->width(), card);
    }
    // Also with the scroll bar showing, as it does at the narrowest height.
    const auto* scroll = rig.part<QScrollArea>("detailScroll");
    QVERIFY(scroll->widget()->minimumSizeHint().width() <=
            rig.view->width() - scroll->verticalScrollBar()->sizeHint().width());
  }
 private:
  SimulatedRig rig;
  std::unique_ptr<LiveMonitor> monitor = rig.makeMonitor();
  Preferences preferences;
  QStringList calls;
  PanelActions actions;
  std::unique_ptr<MenuBarPanel> panel;
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::ViewsTest)
#include "views_test.moc"
