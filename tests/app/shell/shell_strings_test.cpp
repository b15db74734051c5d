// The string bundle: the strings-file reader, the bundle shipped in the
// source tree, and which table `localized` answers from once one is opened.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/shell/calorim_app.h"
#include "app/model/strings.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

std::optional<StringTable> parse(const char* text) { return parseStringTable(QByteArrayView(text)); }

// A bundle folder under `root` named `name` whose table file holds `text`.
QString writeBundle(const QTemporaryDir& root, const QString& name, const QByteArray& text) {
  const QString dir = root.filePath(name);
  QDir().mkpath(dir);
  QFile file(QDir(dir).filePath(QStringLiteral("Localizable.strings")));
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) qFatal("cannot write %s", qPrintable(dir));
  return dir;
}

}  // namespace

class ShellStringsTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private slots:
  void readsEntriesCommentsAndEscapes() {
    const auto table = parse(
        "\xEF\xBB\xBF/* a block\n comment */\n"
        "// a line comment\n"
        "\"plain\" = \"Quit Calorim\";\n"
        "\"escaped\"=\"say \\\"hi\\\"\\\\n\\n\\t\\U00B0\";  \"utf8\" = \"60\xC2\xB0\";\n"
        "\"twice\" = \"first\"; \"twice\" = \"second\";\n");
    QVERIFY(table.has_value());
    QCOMPARE(table->size(), std::size_t{4});
    QCOMPARE(table->at("plain"), QStringLiteral("Quit Calorim"));
    QCOMPARE(table->at("escaped"), QStringLiteral("say \"hi\"\\n\n\t\u00B0"));
    QCOMPARE(table->at("utf8"), QStringLiteral("60\u00B0"));
    QCOMPARE(table->at("twice"), QStringLiteral("second"));
    QVERIFY(parse("")->empty());
    QVERIFY(parse("  // only a comment")->empty());
  }

  void rejectsWhatIsNoStringsFile_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("no semicolon") << QByteArray("\"a\" = \"b\"");
    QTest::newRow("no equals") << QByteArray("\"a\" \"b\";");
    QTest::newRow("unclosed text") << QByteArray("\"a\" = \"b;");
    QTest::newRow("unclosed comment") << QByteArray("\"a\" = \"b\"; /* ");
    QTest::newRow("unknown escape") << QByteArray("\"a\" = \"\\x\";");
    QTest::newRow("short \\U") << QByteArray("\"a\" = \"\\U00\";");
    QTest::newRow("bare word") << QByteArray("a = \"b\";");
    QTest::newRow("not UTF-8") << QByteArray("\"a\" = \"\xFF\";");
  }
  void rejectsWhatIsNoStringsFile() {
    QFETCH(QByteArray, text);
    QVERIFY(!parseStringTable(text).has_value());
  }

  void shippedBundleHoldsEveryKey() {
    QFile file(QDir(testing::sourceStringBundle()).filePath(QStringLiteral("Localizable.strings")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const auto table = parseStringTable(file.readAll());
    QVERIFY(table.has_value());
    // Every key the program asks for.
    for (const char* key :
         {"ane.short", "ane.title", "app.name", "app.nameSimulated", "core.eCluster", "core.eCore", "core.pCluster",
          "core.pCore", "cpu.eCluster", "cpu.pCluster", "cpu.title", "detail.boost", "detail.charging",
          "detail.display", "detail.gpuCores", "detail.memory", "detail.otherSoc", "detail.ram", "detail.simulated",
          "detail.socTotal", "detail.swap", "detail.systemTotal", "detail.unclassified", "disp.external",
          "disp.internal", "energy.absent", "energy.denied", "energy.unavailable", "error.initFailed", "gpu.title",
          "mem.controller", "mem.dram", "mem.phy", "menu.celsius", "menu.fahrenheit", "menu.fan", "menu.openDetail",
          "menu.quit", "menu.settings", "menu.total", "mode.systemPower", "mode.socPower", "mode.cpuPower",
          "mode.gpuPower", "mode.cpuUsage", "mode.gpuUsage", "mode.cpuTemp", "mode.gpuTemp", "mode.ramFreeGB",
          "mode.ramFreePercent", "panel.updateAvailable", "ports.actual", "ports.adapter", "ports.description",
          "ports.empty", "ports.inputPower", "ports.manufacturer", "ports.name", "ports.negotiated",
          "ports.pdNegotiation", "ports.pdo", "ports.rated", "ports.serial", "ports.thunderbolt", "ports.title",
          "ports.titleSimulated", "ports.usb", "settings.displayStyle", "settings.general", "settings.launchAtLogin",
          "settings.menuBarDisplay", "settings.selectUpTo3", "settings.styleFull", "settings.styleMinimal",
          "settings.styleShort", "settings.tempUnit", "settings.title", "soc.fabric", "soc.isp", "soc.media",
          "stat.avg", "stat.peak"}) {
      const auto it = table->find(std::string_view(key));
      QVERIFY2(it != table->end(), key);
      QVERIFY2(!it->second.trimmed().isEmpty(), key);
    }
    // Formats take their arguments.
    QCOMPARE(table->at("menu.fan").arg(1), QStringLiteral("Fan 1"));
    QVERIFY(table->at("core.pCore").contains(QStringLiteral("%1")));
    QVERIFY(table->at("core.pCore").contains(QStringLiteral("%2")));
  }

  void openedBundleAnswersEveryLookup() {
    QTemporaryDir root;
    const QString broken = writeBundle(root, QStringLiteral("broken.bundle"), "\"menu.quit\" = ");
    const QString good = writeBundle(root, QStringLiteral("good.bundle"), "\"menu.quit\" = \"Beenden\";");
    const QString missing = root.filePath(QStringLiteral("missing.bundle"));

    // Nothing usable: the table in use (none) stays.
    const QString before = localized("menu.quit");
    QCOMPARE(before, QStringLiteral("menu.quit"));  // no bundle open yet: keys show
    QVERIFY(!openStringBundle({missing, broken}).has_value());
    QCOMPARE(localized("menu.quit"), before);

    QCOMPARE(openStringBundle({missing, broken, good}), std::optional<QString>(good));
    QCOMPARE(localized("menu.quit"), QStringLiteral("Beenden"));
    // The bundle is the whole table: a key it lacks shows as the key.
    QCOMPARE(localized("menu.total"), QStringLiteral("menu.total"));
    QCOMPARE(localized("no.such.key"), QStringLiteral("no.such.key"));

    QVERIFY(testing::openSourceStringBundle());
    QCOMPARE(localized("menu.quit"), QStringLiteral("Quit Calorim"));
  }

  void failureNamesEveryLocationTried() {
    QCOMPARE(stringBundleFailure({QStringLiteral("/a/CalorimGUI_Calorim.bundle"), QStringLiteral("/b/x.bundle")}),
             QStringLiteral("could not load resource bundle: from /a/CalorimGUI_Calorim.bundle, /b/x.bundle"));
    // The build tree's copy, beside the executable, comes first.
    QCOMPARE(stringBundleLocations().front(),
             QDir(QCoreApplication::applicationDirPath()).filePath("CalorimGUI_Calorim.bundle"));
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::ShellStringsTest)
#include "shell_strings_test.moc"
