// The texts of the detail and panel windows as tables: each row a sample
// and the texts it gives, optional parts joined by "|" ("-" where absent).

#include <QTest>

#include <cmath>
#include <limits>

#include "app/model/strings.h"
#include "app/views/detail_text.h"
#include "app/views/temperature_colour.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

QString part(const std::optional<QString>& text) { return text.value_or(QStringLiteral("-")); }

QString joined(const QStringList& parts) { return parts.join(QLatin1Char('|')); }

template <class Row, class Texts>
void checkTable(const std::vector<Row>& rows, Texts texts) {
  for (const Row& row : rows) {
    const QString actual = texts(row);
    QVERIFY2(actual == QString::fromUtf8(row.expected),
             qPrintable(QStringLiteral("%1: got \"%2\"").arg(QLatin1String(row.name), actual)));
  }
}

}  // namespace

class DetailTextTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(testing::openSourceStringBundle()); }

  void heroTexts() {
    struct Row {
      const char* name;
      bool hasPower;
      double total, system;
      bool charging;
      const char* expected;  // caption|system|soc|peak|avg
    };
    checkTable(std::vector<Row>{
                   {"no system power", true, 7.24, 0, false, "-|-|7.2 W|Peak: 8.0 W|Avg: 7.6 W"},
                   {"system power, charging", true, 8.04, 31.46, true,
                    "System Total ⚡|31.5 W|8.0 W|Peak: 8.0 W|Avg: 7.6 W"},
                   {"not charging", true, 8.04, 31.46, false, "System Total|31.5 W|8.0 W|Peak: 8.0 W|Avg: 7.6 W"},
                   {"no power figures", false, 8.04, 0, false, "-|-|—|Peak: 8.0 W|Avg: 7.6 W"},
               },
               [](const Row& r) {
                 PowerSample s = PowerSample::zero({});
                 s.hasPower = r.hasPower;
                 s.total = r.total;
                 s.systemPower = r.system;
                 s.isCharging = r.charging;
                 const HeroTexts t = calorim::app::heroTexts(s, 8.04, 7.6);
                 return joined({part(t.systemCaption), part(t.systemValue), t.socValue, t.peak, t.avg});
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
                    "76% ⚡|battery.100.bolt|96W@20V|-|-"},
                   {"charging 1.4 W", 76, true, 96, 1.4, 0, "76% ⚡|battery.100.bolt|96W@20V|⚡ 1W charging|-"},
                   {"on battery, boost", 1, false, 0, 0, 12.6, "1%|battery.75|-|-|🔋 13W boost"},
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
                 return t ? joined({t->percent, t->icon, part(t->adapter), part(t->charging), part(t->boost)})
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
                   {"RAM and swap", 11.4, 18, 0.44, "RAM 11/18 GB|Swap 0.4 GB"},
                   {"swap of 0.01 GB: none", 11.4, 18, 0.01, "RAM 11/18 GB|-"},
                   {"no RAM size: nothing", 11.4, 0, 2, "none"},
               },
               [](const Row& r) {
                 PowerSample s = PowerSample::zero({});
                 s.ramUsedGB = r.used;
                 s.ramTotalGB = r.total;
                 s.swapUsedGB = r.swap;
                 const auto t = calorim::app::memoryTexts(s);
                 return t ? joined({t->ram, part(t->swap)}) : QStringLiteral("none");
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
                   {"GPU cores", m.gpuCores, "10 GPU"},
                   {"memory, truncated", m.memory, "24GB"},
                   {"memory beyond an int64", machineTexts(SystemInfo("C", 1, 1, 1, inf, "M", "1")).memory, "—GB"},
                   {"fan: fraction cut off", fanSpeedText(999.9), "999 RPM"},
                   {"fan: below 0 toward 0", fanSpeedText(-0.5), "0 RPM"},
                   {"fan: infinite", fanSpeedText(inf), "—"},
                   {"fan: NaN", fanSpeedText(std::nan("")), "—"},
                   {"fan: 1e19", fanSpeedText(1e19), "—"},
                   {"fan: -1e19", fanSpeedText(-1e19), "—"},
                   {"fan: 9.2e18", fanSpeedText(9.2e18), "9200000000000000000 RPM"},
                   {"GPU frequency", frequencyText(1296.4), "1296 MHz"},
                   {"count", countText(2), "(2)"},
                   {"watts", wattsText(0.19, 2), "0.19 W"},
                   // Colours are judged in Celsius: hot from 90, warm from 70.
                   {"69.9 °C", QString::number(int(temperatureLevel(69.9))), "0"},
                   {"70 °C", QString::number(int(temperatureLevel(70))), "1"},
                   {"89.9 °C", QString::number(int(temperatureLevel(89.9))), "1"},
                   {"90 °C", QString::number(int(temperatureLevel(90))), "2"},
                   {"NaN", QString::number(int(temperatureLevel(std::nan("")))), "0"},
               },
               [](const Row& r) { return r.actual; });
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::DetailTextTest)
#include "detail_text_test.moc"
