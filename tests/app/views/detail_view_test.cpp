// The detail window on samples built for each case and published through the
// live monitor, plus screenshots of it on the simulated laptop.

#include <QLabel>
#include <QMap>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <memory>

#include "app/model/battery_readers.h"
#include "app/model/live_monitor.h"
#include "app/model/preferences.h"
#include "app/model/strings.h"
#include "app/views/detail_view.h"
#include "app/views/detail_widgets.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/simulated/machine_profile.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/power_metrics.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

using calorim::fake::HeldClock;

// A monitor that only publishes what the test hands it, with the view on it.
// On the simulated laptop it has its system information; on a bare fake
// machine (no energy counters) its start fails and it holds an error.
struct Rig {
  explicit Rig(bool failedStart = false) {
    std::shared_ptr<Platform> platform;
    if (failedStart) {
      bare = std::make_unique<fake::FakeMachine>();
      platform = bare->platform;
    } else {
      machine = std::make_unique<fake::SimulatedMachine>(fake::builtinProfile());
      platform = machine->platform();
    }
    LiveMonitorOptions options;
    options.clock = std::make_shared<HeldClock>();
    options.updateUrl = QString();
    monitor = std::make_unique<LiveMonitor>(platform, options);
    view = std::make_unique<DetailView>(*monitor, preferences);
  }

  template <typename T = QWidget>
  T* part(const char* name) const {
    T* found = view->findChild<T*>(QLatin1String(name));
    if (found == nullptr) qFatal("no part named %s", name);
    return found;
  }
  [[nodiscard]] QString text(const char* name) const { return part<QLabel>(name)->text(); }
  [[nodiscard]] bool hidden(const char* name) const { return !part(name)->isVisibleTo(view.get()); }
  [[nodiscard]] QPoint at(const char* name) const { return part(name)->mapTo(view.get(), QPoint(0, 0)); }
  // The page as text, with the faded rows, the icons' symbols and the size of the SoC figure.
  [[nodiscard]] QString tree() const {
    return testing::widgetTree(view.get(), [](const QWidget* w) {
      const auto* row = qobject_cast<const WattsRow*>(w);
      if (row != nullptr && row->opacity() < 1) return QStringLiteral("(faded)");
      if (const auto* icon = qobject_cast<const SymbolIcon*>(w)) return icon->name();
      if (w->objectName() == QLatin1String("socValue")) return QStringLiteral("(%1 px)").arg(w->font().pixelSize());
      return QString();
    });
  }

  bool showAt(int width, int height) {
    view->resize(width, height);
    view->show();
    return QTest::qWaitForWindowExposed(view.get());
  }

  std::unique_ptr<fake::FakeMachine> bare;
  std::unique_ptr<fake::SimulatedMachine> machine;
  std::unique_ptr<LiveMonitor> monitor;
  Preferences preferences;
  std::unique_ptr<DetailView> view;
};

// The domain figures of a test sample; everything else of the breakdown is 0.
struct Parts {
  std::vector<ChannelPower> cores;
  std::vector<ChannelPower> clusters;
  double cpu = 3.2;
  double gpu = 1.4;
  double ane = 0.05;
  double dram = 0.55;
  double amcc = 0.32;
  double dcs = 0.41;
  double display = 0.92;
  double displayExt = 0;
  double fabric = 0.24;
  double isp = 0;
  double media = 0.09;
  std::vector<ChannelPower> other;
};

PowerSample sampleWith(const Parts& p = {}) {
  PowerSample s = PowerSample::zero({});
  s.breakdown = EnergyBreakdown(p.cores, p.clusters, p.cpu, p.gpu, 0, p.ane, p.dram, p.amcc, p.dcs, p.display,
                                p.displayExt, p.fabric, p.isp, p.media, {}, p.other);
  s.total = s.breakdown.socTotal();
  s.cpu = p.cpu;
  s.gpu = p.gpu;
  return s;
}

// Samples of the simulated laptop as the monitor's loop would build them.
std::vector<PowerSample> laptopSamples(int count) {
  fake::SimulatedMachine machine(fake::builtinProfile(), 7);
  PowerMetrics metrics(machine.platform());
  BatteryReaders battery(*machine.platform()->registry);
  std::vector<PowerSample> samples;
  for (int i = 0; i < count; ++i) {
    const PowerSnapshot snapshot = metrics.sample(0.5);
    SampleReadings readings;
    readings.systemPower = battery.readSystemPower();
    readings.chargePower = battery.readChargePower();
    readings.battery = battery.readBatteryInfo();
    readings.batteryPower = battery.readBatteryPower();
    readings.memory = readMemoryInfo(*machine.platform()->host);
    samples.push_back(makeSample(snapshot, readings));
    machine.fakeClock()->advance(2.0);
  }
  return samples;
}

// Lets every posted layout request run, so a grab shows the final layout.
void settle() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

}  // namespace

class DetailViewTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private slots:
  void initTestCase() { QVERIFY(testing::openSourceStringBundle()); }
  void init() { Preferences().setTempUnit(TempUnit::celsius); }

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

  // The texts themselves are tabled in detail_text_test; here the page shows
  // each in its place, and hides the parts without one.
  void pageOfEachSample() {
    Rig rig;
    QVERIFY(rig.showAt(1000, 1400));
    QTRY_VERIFY(rig.monitor->systemInfo().has_value());
    PowerSample s = sampleWith();
    s.total = 7.24;
    rig.monitor->publish(s);

    Parts parts;
    parts.clusters = {{"EACC_CPU", 0.6}, {"PACC0_CPU", 0.004}};
    parts.cores = {{"EACC_CPU0", 0.11}, {"PACC0_CPU1", 0.5}, {"PACC0_CPU2", 0.25}};
    parts.other = {{"GPU SRAM", 0.15}, {"SOC_AON", 0.04}};
    s = sampleWith(parts);
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
    QVERIFY(testing::matchesGolden(QStringLiteral(GOLDEN_DIR "/detail_full.txt"), rig.tree()));
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
    QCOMPARE(rig.part("fansRow")->findChild<QLabel*>(QStringLiteral("fanRpm"))->text(), QStringLiteral("1300 RPM"));
    // A new unit redraws at once.
    rig.preferences.setTempUnit(TempUnit::fahrenheit);
    QCOMPARE(rig.part("cpuHeader")->findChild<QLabel*>(QStringLiteral("temp"))->text(), QStringLiteral("160°F"));

    // Without system power, adapter, charging, boost, swap, lists, core
    // temperatures, GPU frequency or fans those parts go; a display card only
    // while a display draws power.
    parts = Parts();
    parts.display = 0.001;
    s = sampleWith(parts);
    s.batteryPercent = 50;
    s.ramUsedGB = 11.4;
    s.ramTotalGB = 18;
    rig.monitor->publish(s);
    QVERIFY(testing::matchesGolden(QStringLiteral(GOLDEN_DIR "/detail_bare.txt"), rig.tree()));
    parts.displayExt = 0.0011;
    rig.monitor->publish(sampleWith(parts));
    QVERIFY(!rig.hidden("displayCard") && rig.hidden("displayInternalRow") && !rig.hidden("displayExternalRow"));
  }

  void errorBannerAndSystemInformation() {
    Rig failed(true);
    QVERIFY(failed.showAt(600, 900));
    // The monitor's worker finds the failure and reads the machine's description.
    QTRY_VERIFY(failed.monitor->error().has_value() && failed.monitor->systemInfo().has_value());
    // A backend that names no folder: the notice says only that power cannot be read.
    QCOMPARE(failed.text("energyNotice"), QStringLiteral("No power figures: the energy counters could not be read."));
    QVERIFY(!failed.hidden("energyNotice"));
    QVERIFY(!failed.hidden("errorBanner"));
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
    Rig rig;
    rig.monitor->setPaused(true);
    rig.view->resize(600, 900);
    rig.view->show();
    QVERIFY(rig.monitor->isPaused());  // not before the delay
    QTRY_VERIFY_WITH_TIMEOUT(!rig.monitor->isPaused(), 10000);

    rig.monitor->setPaused(true);
    rig.view->close();
    QVERIFY(!rig.monitor->isPaused());
  }

  void screenshotsOfTheSimulatedLaptop() {
    Rig rig;
    for (const PowerSample& s : laptopSamples(12)) rig.monitor->publish(s);

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
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::DetailViewTest)
#include "detail_view_test.moc"
