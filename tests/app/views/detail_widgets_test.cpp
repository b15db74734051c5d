// The detail window's building blocks: channel labels, the temperature
// colour, fading of idle rows, capped bars and the two grids.

#include <QLabel>
#include <QPointer>
#include <QTest>

#include "app/model/strings.h"
#include "app/views/detail_widgets.h"
#include "app/views/temperature_colour.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

QLabel* child(const QWidget& w, const char* name) { return w.findChild<QLabel*>(QLatin1String(name)); }

QColor textColour(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

const QColor kGreen = temperatureColour(TemperatureLevel::normal);
const QColor kOrange = temperatureColour(TemperatureLevel::warm);
const QColor kRed = temperatureColour(TemperatureLevel::hot);

QPoint positionIn(const QWidget* widget, const QWidget* ancestor) { return widget->mapTo(ancestor, QPoint(0, 0)); }

}  // namespace

class DetailWidgetsTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private slots:
  void initTestCase() { QVERIFY(testing::openSourceStringBundle()); }

  void readableNameAppliesTheFirstMatchingRule() {
    const std::vector<std::pair<QString, QString>> rows{
        {"EACC_CPU", "E-Cluster"},
        {"PACC0_CPU", "P0-Cluster"},
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

  void sectionHeaderShowsAColouredTemperatureOnlyAboveZero_data() {
    QTest::addColumn<double>("temp");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<QString>("text");  // empty: no temperature shown
    QTest::addColumn<QColor>("colour");
    QTest::newRow("0: none") << 0.0 << false << QString() << QColor();
    QTest::newRow("negative: none") << -4.0 << false << QString() << QColor();
    QTest::newRow("70 orange") << 70.0 << false << "70°C" << kOrange;
    QTest::newRow("90 in °F red") << 90.0 << true << "194°F" << kRed;
    QTest::newRow("30 in °F judged in °C") << 30.0 << true << "86°F" << kGreen;
  }
  void sectionHeaderShowsAColouredTemperatureOnlyAboveZero() {
    QFETCH(double, temp);
    QFETCH(bool, fahrenheit);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    SectionHeader header;
    // From a shown temperature to the one under test: hiding must follow.
    header.setValues(QStringLiteral("CPU"), 1, 55, TempUnit::celsius);
    header.setValues(QStringLiteral("CPU"), 3.14159, temp, fahrenheit ? TempUnit::fahrenheit : TempUnit::celsius);
    QCOMPARE(child(header, "title")->text(), QStringLiteral("CPU"));
    QCOMPARE(child(header, "watts")->text(), QStringLiteral("3.14 W"));
    QLabel* tempLabel = child(header, "temp");
    QCOMPARE(tempLabel->isHidden(), text.isEmpty());
    if (!text.isEmpty()) {
      QCOMPARE(tempLabel->text(), text);
      QCOMPARE(textColour(tempLabel), colour);
    }
  }

  void wattsRowFadesOnlyIdleNonBoldRows_data() {
    QTest::addColumn<double>("watts");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("opacity");
    QTest::newRow("0.009 faded") << 0.009 << false << "0.009 W" << 0.4;
    QTest::newRow("0.01 opaque") << 0.01 << false << "0.010 W" << 1.0;
    QTest::newRow("negative faded") << -0.5 << false << "-0.500 W" << 0.4;
    QTest::newRow("bold 0.009 opaque") << 0.009 << true << "0.009 W" << 1.0;
    QTest::newRow("1.23456") << 1.23456 << false << "1.235 W" << 1.0;
  }
  void wattsRowFadesOnlyIdleNonBoldRows() {
    QFETCH(double, watts);
    QFETCH(bool, bold);
    QFETCH(QString, text);
    QFETCH(double, opacity);
    WattsRow row(bold);
    const QColor opaque = textColour(child(row, "watts"));
    // Through the other state first, so that the way back is tested too.
    row.setValues(QStringLiteral("DRAM"), opacity < 1 ? 2.0 : 0.0);
    row.setValues(QStringLiteral("DRAM"), watts);
    QCOMPARE(child(row, "label")->text(), QStringLiteral("DRAM"));
    QCOMPARE(child(row, "watts")->text(), text);
    QCOMPARE(row.opacity(), opacity);
    QCOMPARE(textColour(child(row, "watts")).alphaF(), opaque.alphaF() * static_cast<float>(opacity));
  }

  void barsAreCappedWhileTextsShowTheTruePercentage_data() {
    QTest::addColumn<double>("usage");
    QTest::addColumn<double>("power");
    QTest::addColumn<QString>("figures");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<double>("level");
    QTest::newRow("130%") << 1.3 << 2.5 << "130%  2.50W" << "130%" << 1.0;
    QTest::newRow("45.6%") << 0.456 << 1.234 << "46%  1.23W" << "46%" << 0.456;
    QTest::newRow("negative passes") << -0.2 << 0.0 << "-20%  0.00W" << "-20%" << -0.2;
  }
  void barsAreCappedWhileTextsShowTheTruePercentage() {
    QFETCH(double, usage);
    QFETCH(double, power);
    QFETCH(QString, figures);
    QFETCH(QString, percent);
    QFETCH(double, level);

    ClusterBar cluster(Qt::cyan);
    cluster.setValues(QStringLiteral("Efficiency"), usage, power);
    QCOMPARE(child(cluster, "label")->text(), QStringLiteral("Efficiency"));
    QCOMPARE(child(cluster, "figures")->text(), figures);
    QCOMPARE(cluster.findChild<LevelBar*>(QStringLiteral("bar"))->level(), level);

    UsageBar bar(Qt::green);
    bar.setUsage(usage);
    QCOMPARE(child(bar, "percent")->text(), percent);
    QCOMPARE(bar.findChild<LevelBar*>(QStringLiteral("bar"))->level(), level);
  }

  void usageBarIsAtMost200Wide() {
    UsageBar bar(Qt::green);
    bar.setUsage(0.5);
    bar.resize(600, 30);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    const auto* level = bar.findChild<LevelBar*>(QStringLiteral("bar"));
    QCOMPARE(level->width(), UsageBar::kMaxBarWidth);
    QVERIFY(child(bar, "percent")->geometry().left() >= level->geometry().right());
  }

  void channelGridFillsTwoColumnsRowByRowAndKeepsItsCells() {
    ChannelGrid grid;
    grid.setChannels({{"EACC_CPU0", 0.1234}, {"PACC0_CPU1", 1.0}, {"GPU SRAM", 0.0004}});
    grid.resize(400, 60);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QCOMPARE(grid.count(), 3);
    const QStringList names{grid.nameLabel(0)->text(), grid.nameLabel(1)->text(), grid.nameLabel(2)->text()};
    QCOMPARE(names, (QStringList{readableName(std::string_view("EACC_CPU0")),
                                 readableName(std::string_view("PACC0_CPU1")), QStringLiteral("GPU SRAM")}));
    QCOMPARE(grid.valueLabel(0)->text() + grid.valueLabel(2)->text(), QStringLiteral("0.1230.000"));
    // Row by row: 0 and 1 side by side, 2 under 0.
    const QPoint p0 = positionIn(grid.nameLabel(0), &grid);
    const QPoint p1 = positionIn(grid.nameLabel(1), &grid);
    const QPoint p2 = positionIn(grid.nameLabel(2), &grid);
    QCOMPARE(p1.y(), p0.y());
    QVERIFY(p1.x() > p0.x() + 100);
    QCOMPARE(p2.x(), p0.x());
    QVERIFY(p2.y() > p0.y());

    // The same number of channels relabels the cells it has.
    const QPointer<QLabel> first = grid.nameLabel(0);
    grid.setChannels({{"ECPU", 0.5}, {"SOC_AON", 0.04}, {"ISP2", 0.0}});
    QCOMPARE(grid.nameLabel(0), first.data());
    QCOMPARE(grid.nameLabel(0)->text(), QStringLiteral("ECPU"));
    QCOMPARE(grid.valueLabel(1)->text(), QStringLiteral("0.040"));
    grid.setChannels({{"ECPU", 0.5}});
    QCOMPARE(grid.count(), 1);
    QCOMPARE(grid.findChildren<QWidget*>(QStringLiteral("channelCell")).size(), 1);
  }

  void coreTempGridLabelsCellsInListOrder() {
    CoreTempGrid grid;
    grid.setTemps({45, 75, 95, 60}, TempUnit::celsius);
    grid.resize(400, 60);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QCOMPARE(grid.count(), 4);
    QCOMPARE(grid.nameLabel(3)->text() + grid.valueLabel(3)->text(), QStringLiteral("C360°C"));
    QCOMPARE(textColour(grid.valueLabel(1)), kOrange);
    // Three columns: the fourth cell starts the second row.
    QCOMPARE(positionIn(grid.nameLabel(2), &grid).y(), positionIn(grid.nameLabel(0), &grid).y());
    QCOMPARE(positionIn(grid.nameLabel(3), &grid).x(), positionIn(grid.nameLabel(0), &grid).x());
    QVERIFY(positionIn(grid.nameLabel(3), &grid).y() > positionIn(grid.nameLabel(0), &grid).y());

    // Fahrenheit text, Celsius colour.
    grid.setTemps({30, 91}, TempUnit::fahrenheit);
    QCOMPARE(grid.count(), 2);
    QCOMPARE(grid.valueLabel(0)->text() + grid.valueLabel(1)->text(), QStringLiteral("86°F196°F"));
    QCOMPARE(textColour(grid.valueLabel(0)), kGreen);
    QCOMPARE(textColour(grid.valueLabel(1)), kRed);
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::DetailWidgetsTest)
#include "detail_widgets_test.moc"
