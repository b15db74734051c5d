// The detail window on samples built for each case and published through the
// live monitor, plus screenshots of it on the simulated laptop.

#include <QDir>
#include <QLabel>
#include <QMap>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>

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

QString screenshotPath(const QString& name) {
  const QDir dir(qEnvironmentVariable("SCREENSHOT_DIR", QDir::tempPath()));
  dir.mkpath(QStringLiteral("."));
  return dir.filePath(name);
}

}  // namespace

class DetailViewTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every preference of this run lands in a folder of its own.
    static QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  }

 private slots:
  void init() { Preferences().setTempUnit(TempUnit::celsius); }

  void oneColumnUpTo780AndTwoAbove() {
    Rig rig;
    rig.monitor->publish(sampleWith());
    QVERIFY(rig.showAt(780, 900));
    QVERIFY(!rig.view->isWide());
    QCOMPARE(rig.at("memoryCard").x(), rig.at("cpuCard").x());
    QVERIFY(rig.at("memoryCard").y() > rig.at("aneCard").y());
    QVERIFY(rig.at("aneCard").y() > rig.at("gpuCard").y());

    rig.view->resize(781, 900);
    QTRY_VERIFY(rig.view->isWide());
    QTRY_VERIFY(rig.at("memoryCard").x() > rig.at("cpuCard").x() + rig.part("cpuCard")->width());
    // Both columns start at the top; the right one keeps its order.
    QCOMPARE(rig.at("memoryCard").y(), rig.at("cpuCard").y());
    QVERIFY(rig.at("systemInfoCard").y() > rig.at("displayCard").y());
    QVERIFY(qAbs(rig.part("memoryCard")->width() - rig.part("cpuCard")->width()) <= 1);  // equal halves

    rig.view->resize(780, 900);
    QTRY_COMPARE(rig.at("memoryCard").x(), rig.at("cpuCard").x());
    QVERIFY(!rig.view->isWide());
    QVERIFY(!rig.hidden("memoryCard"));
  }

  void historyLineFollowsTheValues_data() {
    QTest::addColumn<QList<double>>("totals");
    QTest::addColumn<QList<double>>("xs");  // as fractions of the width
    QTest::addColumn<QList<double>>("ys");  // as fractions of the height
    QTest::newRow("none") << QList<double>{} << QList<double>{} << QList<double>{};
    QTest::newRow("one") << QList<double>{5} << QList<double>{} << QList<double>{};
    QTest::newRow("equal: flat on the bottom") << QList<double>{4, 4, 4} << QList<double>{0, 0.5, 1}
                                               << QList<double>{1, 1, 1};
    QTest::newRow("varied: min bottom, max top") << QList<double>{1, 3, 2, 1.5} << QList<double>{0, 1. / 3, 2. / 3, 1}
                                                 << QList<double>{1, 0, 0.5, 0.75};
    QTest::newRow("span of 0.05 against 0.1") << QList<double>{2, 2.05} << QList<double>{0, 1}
                                              << QList<double>{1, 0.5};
  }
  void historyLineFollowsTheValues() {
    QFETCH(QList<double>, totals);
    QFETCH(QList<double>, xs);
    QFETCH(QList<double>, ys);
    Rig rig;
    for (double total : totals) {
      PowerSample s = sampleWith();
      s.total = total;
      rig.monitor->publish(s);
    }
    QVERIFY(rig.showAt(600, 900));
    HistoryLine* line = rig.view->historyLine();
    QCOMPARE(line->height(), HistoryLine::kHeight);
    QVERIFY(line->width() > 400);
    const QList<QPointF> points = line->points();
    QCOMPARE(points.size(), xs.size());
    for (qsizetype i = 0; i < points.size(); ++i) {
      QCOMPARE(points[i].x(), xs[i] * line->width());
      QCOMPARE(points[i].y() + 1, ys[i] * line->height() + 1);  // fuzzy near 0
    }
  }

  void heroTotalsAndStatistics() {
    Rig rig;
    PowerSample s = sampleWith();
    s.total = 7.24;
    s.systemPower = 0;
    rig.monitor->publish(s);
    QVERIFY(rig.showAt(600, 900));
    QVERIFY(rig.hidden("systemTotal"));
    QVERIFY(rig.hidden("totalsDivider"));
    QCOMPARE(rig.text("socValue"), QStringLiteral("7.2 W"));
    QCOMPARE(rig.part<QLabel>("socValue")->font().pixelSize(), 36);
    QCOMPARE(rig.text("socCaption"), localized("detail.socTotal"));

    s.total = 8.04;
    s.systemPower = 31.46;
    s.isCharging = true;
    rig.monitor->publish(s);
    QVERIFY(!rig.hidden("systemTotal"));
    QVERIFY(!rig.hidden("totalsDivider"));
    QCOMPARE(rig.text("systemValue"), QStringLiteral("31.5 W"));
    QCOMPARE(rig.text("systemCaption"), localized("detail.systemTotal") + QStringLiteral(" \u26A1"));
    QCOMPARE(rig.part<QLabel>("systemValue")->font().pixelSize(), 36);
    QCOMPARE(rig.part<QLabel>("socValue")->font().pixelSize(), 28);
    QCOMPARE(rig.text("socValue"), QStringLiteral("8.0 W"));
    QCOMPARE(rig.text("peakLabel"), localized("stat.peak") + QStringLiteral(": 8.0 W"));
    QCOMPARE(rig.text("avgLabel"), localized("stat.avg") + QStringLiteral(": 7.6 W"));
    QVERIFY(rig.at("avgLabel").x() > rig.at("peakLabel").x() + 300);

    s.isCharging = false;
    rig.monitor->publish(s);
    QCOMPARE(rig.text("systemCaption"), localized("detail.systemTotal"));
  }

  void batteryGroup_data() {
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("charging");
    QTest::addColumn<int>("adapterWatts");
    QTest::addColumn<double>("chargingPower");
    QTest::addColumn<double>("discharge");
    // Expected texts; empty: hidden.
    QTest::addColumn<QString>("percentText");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("chargingText");
    QTest::addColumn<QString>("boost");
    QTest::newRow("no battery hides all, adapter too") << 0 << true << 96 << 20.0 << 5.0 << "" << "" << "" << "";
    QTest::newRow("charging 1.0 W: no charging text")
        << 76 << true << 96 << 1.0 << 0.0 << "76% ⚡" << "96W@20V" << "" << "";
    QTest::newRow("charging 1.4 W") << 76 << true << 96 << 1.4 << 0.0 << "76% ⚡" << "96W@20V" << "⚡ 1W charging" << "";
    QTest::newRow("on battery, boost") << 1 << false << 0 << 0.0 << 12.6 << "1%" << "" << "" << "🔋 13W boost";
    QTest::newRow("discharge 1.0 W: no boost") << 50 << false << 0 << 0.0 << 1.0 << "50%" << "" << "" << "";
  }
  void batteryGroup() {
    QFETCH(int, percent);
    QFETCH(bool, charging);
    QFETCH(int, adapterWatts);
    QFETCH(double, chargingPower);
    QFETCH(double, discharge);
    QFETCH(QString, percentText);
    QFETCH(QString, adapter);
    QFETCH(QString, chargingText);
    QFETCH(QString, boost);
    Rig rig;
    QVERIFY(rig.showAt(600, 900));
    // Everything shown first, so that each hiding is tested.
    PowerSample s = sampleWith();
    s.batteryPercent = 80;
    s.adapterWatts = 140;
    s.adapterVoltage = 28;
    s.chargingPower = 30;
    s.batteryDischargeW = 9;
    rig.monitor->publish(s);
    QVERIFY(!rig.hidden("chargingLabel") && !rig.hidden("boostLabel") && !rig.hidden("adapterLabel"));

    s.batteryPercent = percent;
    s.isCharging = charging;
    s.adapterWatts = adapterWatts;
    s.adapterVoltage = 20.2;
    s.chargingPower = chargingPower;
    s.batteryDischargeW = discharge;
    rig.monitor->publish(s);
    QCOMPARE(rig.hidden("batteryGroup"), percentText.isEmpty());
    if (percentText.isEmpty()) return;
    QCOMPARE(rig.text("batteryPercent"), percentText);
    QCOMPARE(rig.part<SymbolIcon>("batteryIcon")->name(),
             charging ? QStringLiteral("battery.100.bolt") : QStringLiteral("battery.75"));
    const QList<std::pair<const char*, QString>> items{
        {"adapterLabel", adapter}, {"chargingLabel", chargingText}, {"boostLabel", boost}};
    for (const auto& [name, expected] : items) {
      QCOMPARE(rig.hidden(name), expected.isEmpty());
      if (!expected.isEmpty()) QCOMPARE(rig.text(name), expected);
    }
  }

  void memoryGroup() {
    Rig rig;
    QVERIFY(rig.showAt(600, 900));
    PowerSample s = sampleWith();
    s.ramUsedGB = 11.4;
    s.ramTotalGB = 18;
    s.swapUsedGB = 0.44;
    rig.monitor->publish(s);
    QCOMPARE(rig.text("ramLabel"), QStringLiteral("RAM 11/18 GB"));
    QCOMPARE(rig.text("swapLabel"), QStringLiteral("Swap 0.4 GB"));
    // The memory group stands at the right end of the status row.
    const int heroRight = rig.at("heroCard").x() + rig.part("heroCard")->width();
    QTRY_VERIFY(rig.at("memoryGroup").x() + rig.part("memoryGroup")->width() > heroRight - 40);

    s.swapUsedGB = 0.01;
    rig.monitor->publish(s);
    QVERIFY(rig.hidden("swapLabel"));
    QVERIFY(!rig.hidden("ramLabel"));

    s.ramTotalGB = 0;
    rig.monitor->publish(s);
    QVERIFY(rig.hidden("memoryGroup"));
  }

  void cpuAndGpuCards() {
    Rig rig;
    QVERIFY(rig.showAt(600, 1200));
    Parts parts;
    parts.clusters = {{"EACC_CPU", 0.6}, {"PACC0_CPU", 0.004}};
    parts.cores = {{"EACC_CPU0", 0.11}, {"PACC0_CPU1", 0.5}, {"PACC0_CPU2", 0.25}};
    PowerSample s = sampleWith(parts);
    s.cpuTemp = 71;
    s.eCpu = 0.6;
    s.eCpuUsage = 0.25;
    s.pCpu = 1.6;
    s.pCpuUsage = 1.2;
    s.coreTemps = {50, 91};
    s.gpuTemp = 0;
    s.gpuUsage = 0.31;
    s.gpuFreqMHz = 1296.4;
    rig.monitor->publish(s);

    auto* header = rig.part<SectionHeader>("cpuHeader");
    QCOMPARE(header->findChild<QLabel*>(QStringLiteral("watts"))->text(), QStringLiteral("3.20 W"));
    QCOMPARE(header->findChild<QLabel*>(QStringLiteral("temp"))->text(), QStringLiteral("71°C"));
    QCOMPARE(rig.part<ClusterBar>("pClusterBar")->findChild<QLabel*>(QStringLiteral("figures"))->text(),
             QStringLiteral("120%  1.60W"));
    QCOMPARE(rig.part<ClusterBar>("eClusterBar")->findChild<QLabel*>(QStringLiteral("label"))->text(),
             localized("cpu.eCluster"));

    const QList<WattsRow*> rows = rig.part("cpuClusters")->findChildren<WattsRow*>(QStringLiteral("clusterRow"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0]->findChild<QLabel*>(QStringLiteral("label"))->text(), readableName(std::string_view("EACC_CPU")));
    QCOMPARE(rows[1]->findChild<QLabel*>(QStringLiteral("label"))->text(), readableName(std::string_view("PACC0_CPU")));
    QCOMPARE(rows[1]->opacity(), WattsRow::kIdleOpacity);
    QVERIFY(rows[1]->y() > rows[0]->y());
    QCOMPARE(rig.part<ChannelGrid>("cpuCoreGrid")->count(), 3);
    QCOMPARE(rig.part<CoreTempGrid>("coreTempGrid")->count(), 2);
    QVERIFY(!rig.hidden("cpuClusters") && !rig.hidden("cpuCores") && !rig.hidden("cpuCoreTemps"));

    auto* gpuHeader = rig.part<SectionHeader>("gpuHeader");
    QVERIFY(gpuHeader->findChild<QLabel*>(QStringLiteral("temp"))->isHidden());
    QCOMPARE(rig.text("gpuFreq"), QStringLiteral("1296 MHz"));
    QCOMPARE(rig.part<UsageBar>("gpuUsageBar")->findChild<QLabel*>(QStringLiteral("percent"))->text(),
             QStringLiteral("31%"));
    QCOMPARE(rig.part<WattsRow>("aneRow")->findChild<QLabel*>(QStringLiteral("watts"))->text(),
             QStringLiteral("0.050 W"));
    QCOMPARE(rig.part<WattsRow>("aneRow")->opacity(), 1.0);

    // Without channel lists, core temperatures or a GPU frequency those parts go.
    PowerSample bare = sampleWith();
    rig.monitor->publish(bare);
    QVERIFY(rig.hidden("cpuClusters") && rig.hidden("cpuCores") && rig.hidden("cpuCoreTemps"));
    QVERIFY(rig.hidden("gpuFreq"));
  }

  void breakdownCards() {
    Rig rig;
    QVERIFY(rig.showAt(600, 1400));
    Parts parts;
    parts.display = 0.92;
    parts.displayExt = 0;
    parts.other = {{"GPU SRAM", 0.15}, {"SOC_AON", 0.04}};
    rig.monitor->publish(sampleWith(parts));
    QCOMPARE(rig.part("memoryCard")->findChild<QLabel*>(QStringLiteral("total"))->text(), QStringLiteral("1.28 W"));
    QCOMPARE(rig.part<WattsRow>("dcsRow")->findChild<QLabel*>(QStringLiteral("label"))->text(), localized("mem.phy"));
    QVERIFY(!rig.hidden("displayCard"));
    QVERIFY(!rig.hidden("displayInternalRow"));
    QVERIFY(rig.hidden("displayExternalRow"));
    QCOMPARE(rig.part("otherSocCard")->findChild<QLabel*>(QStringLiteral("total"))->text(), QStringLiteral("0.33 W"));
    QCOMPARE(rig.part<WattsRow>("ispRow")->opacity(), WattsRow::kIdleOpacity);

    // Unclassified: collapsed, with count and sum; opening shows the channels.
    QVERIFY(!rig.hidden("unclassifiedCard"));
    QCOMPARE(rig.text("unclassifiedCount"), QStringLiteral("(2)"));
    QCOMPARE(rig.text("unclassifiedTotal"), QStringLiteral("0.19 W"));
    auto* grid = rig.part<ChannelGrid>("unclassifiedGrid");
    QVERIFY(!grid->isVisibleTo(rig.view.get()));
    rig.part<QToolButton>("unclassifiedToggle")->click();
    QVERIFY(grid->isVisibleTo(rig.view.get()));
    QCOMPARE(grid->count(), 2);
    QCOMPARE(grid->nameLabel(1)->text(), QStringLiteral("SOC_AON"));

    parts.display = 0.001;
    parts.displayExt = 0;
    parts.other.clear();
    rig.monitor->publish(sampleWith(parts));
    QVERIFY(rig.hidden("displayCard"));
    QVERIFY(rig.hidden("unclassifiedCard"));

    parts.displayExt = 0.0011;
    rig.monitor->publish(sampleWith(parts));
    QVERIFY(!rig.hidden("displayCard"));
    QVERIFY(rig.hidden("displayInternalRow"));
    QVERIFY(!rig.hidden("displayExternalRow"));
  }

  void threeFansInListOrder() {
    Rig rig;
    QVERIFY(rig.showAt(600, 1200));
    PowerSample s = sampleWith();
    s.fans = {FanInfo(2, 1200.9), FanInfo(0, 2400), FanInfo(1, -0.5)};
    rig.monitor->publish(s);
    QVERIFY(!rig.hidden("fansCard"));
    QList<QWidget*> items = rig.part("fansRow")->findChildren<QWidget*>(QStringLiteral("fanItem"));
    QCOMPARE(items.size(), 3);
    std::sort(items.begin(), items.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
    QStringList names;
    QStringList rpms;
    for (QWidget* item : items) {
      names << item->findChild<QLabel*>(QStringLiteral("fanName"))->text();
      rpms << item->findChild<QLabel*>(QStringLiteral("fanRpm"))->text();
    }
    const QString fan = localized("menu.fan");
    QCOMPARE(names, (QStringList{fan.arg(2), fan.arg(0), fan.arg(1)}));
    QCOMPARE(rpms, (QStringList{"1200 RPM", "2400 RPM", "0 RPM"}));

    // The same fans again: the items stay, only their figures change.
    const QPointer<QWidget> first = items[0];
    s.fans = {FanInfo(2, 1300), FanInfo(0, 2400), FanInfo(1, 0)};
    rig.monitor->publish(s);
    QVERIFY(first);
    QCOMPARE(first->findChild<QLabel*>(QStringLiteral("fanRpm"))->text(), QStringLiteral("1300 RPM"));

    s.fans.clear();
    rig.monitor->publish(s);
    QVERIFY(rig.hidden("fansCard"));
  }

  void publicationsUpdateInPlace() {
    Rig rig;
    Parts parts;
    parts.clusters = {{"EACC_CPU", 0.6}, {"PACC0_CPU", 1.6}};
    parts.cores = {{"EACC_CPU0", 0.11}, {"PACC0_CPU1", 0.5}};
    parts.other = {{"SOC_AON", 0.04}};
    PowerSample s = sampleWith(parts);
    s.coreTemps = {50, 60, 70};
    s.fans = {FanInfo(0, 2000)};
    rig.monitor->publish(s);
    QVERIFY(rig.showAt(1000, 900));
    const QList<QWidget*> before = rig.view->findChildren<QWidget*>();
    QMap<QString, QRect> geometry;
    for (const char* card : {"cpuCard", "gpuCard", "memoryCard", "fansCard", "unclassifiedCard"}) {
      geometry[QLatin1String(card)] = QRect(rig.at(card), rig.part(card)->size());
    }

    parts.clusters = {{"EACC_CPU", 0.7}, {"PACC0_CPU", 1.4}};
    parts.cores = {{"EACC_CPU0", 0.12}, {"PACC0_CPU1", 0.4}};
    parts.cpu = 3.3;
    parts.other = {{"SOC_AON", 0.05}};
    s = sampleWith(parts);
    s.coreTemps = {51, 61, 71};
    s.fans = {FanInfo(0, 2100)};
    rig.monitor->publish(s);
    QCoreApplication::processEvents();
    QCOMPARE(rig.view->findChildren<QWidget*>(), before);
    for (auto it = geometry.cbegin(); it != geometry.cend(); ++it) {
      const QByteArray name = it.key().toLatin1();
      QCOMPARE(QRect(rig.at(name.constData()), rig.part(name.constData())->size()), it.value());
    }
  }

  void temperatureUnitChangeRedrawsAtOnce() {
    Rig rig;
    PowerSample s = sampleWith();
    s.cpuTemp = 90;
    s.coreTemps = {30};
    rig.monitor->publish(s);
    auto* header = rig.part<SectionHeader>("cpuHeader");
    QCOMPARE(header->findChild<QLabel*>(QStringLiteral("temp"))->text(), QStringLiteral("90°C"));
    rig.preferences.setTempUnit(TempUnit::fahrenheit);
    QCOMPARE(header->findChild<QLabel*>(QStringLiteral("temp"))->text(), QStringLiteral("194°F"));
    QCOMPARE(rig.part<CoreTempGrid>("coreTempGrid")->valueLabel(0)->text(), QStringLiteral("86°F"));
  }

  void errorBannerAndSystemInformation() {
    Rig failed(true);
    QVERIFY(failed.showAt(600, 900));
    // The monitor's worker finds the failure and reads the machine's description.
    QTRY_VERIFY(failed.monitor->error().has_value() && failed.monitor->systemInfo().has_value());
    // A backend that names no folder: the notice says only that power cannot be read.
    QCOMPARE(failed.text("energyNotice"), localized("energy.unavailable"));
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
    QVERIFY(failed.view->grab().save(screenshotPath(QStringLiteral("detail_error.png"))));

    Rig rig;
    QVERIFY(rig.showAt(600, 900));
    QVERIFY(rig.hidden("errorBanner"));
    QTRY_VERIFY(rig.monitor->systemInfo().has_value());
    const SystemInfo& info = *rig.monitor->systemInfo();
    QVERIFY(!rig.hidden("systemInfoCard"));
    QCOMPARE(rig.text("chipLabel"), QString::fromStdString(info.chipName()));
    QCOMPARE(rig.text("coresLabel"), QStringLiteral("%1E+%2P").arg(info.eCores()).arg(info.pCores()));
    QCOMPARE(rig.text("gpuCoresLabel"), QStringLiteral("%1 GPU").arg(info.gpuCores()));
    QCOMPARE(rig.text("memoryLabel"),
             QStringLiteral("%1GB").arg(static_cast<qlonglong>(std::trunc(info.totalMemoryGB()))));
    QVERIFY(!rig.text("coresLabel").contains(QLatin1Char(',')));
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
    QVERIFY(rig.view->grab().save(screenshotPath(QStringLiteral("detail_narrow.png"))));

    rig.view->resize(1000, 760);
    QTRY_VERIFY(rig.view->isWide());
    rig.part<QToolButton>("unclassifiedToggle")->click();
    settle();
    QVERIFY(rig.view->grab().save(screenshotPath(QStringLiteral("detail_wide.png"))));

    rig.preferences.setTempUnit(TempUnit::fahrenheit);
    // The window's narrowest: every card still fits across.
    rig.view->resize(420, 1400);
    QTRY_VERIFY(!rig.view->isWide());
    settle();
    QVERIFY(rig.view->grab().save(screenshotPath(QStringLiteral("detail_fahrenheit_narrow.png"))));
    for (const char* card : {"heroCard", "cpuCard", "gpuCard", "fansCard", "systemInfoCard"}) {
      QVERIFY2(rig.at(card).x() + rig.part(card)->width() <= rig.view->width(), card);
    }
    // Also with the scroll bar showing, as it does at the narrowest height.
    const auto* scroll = rig.part<QScrollArea>("detailScroll");
    QVERIFY(scroll->widget()->minimumSizeHint().width() <=
            rig.view->width() - scroll->verticalScrollBar()->sizeHint().width());
    QVERIFY(rig.part<SectionHeader>("cpuHeader")->findChild<QLabel*>(QStringLiteral("temp"))->text().endsWith(
        QStringLiteral("°F")));
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::DetailViewTest)
#include "detail_view_test.moc"
