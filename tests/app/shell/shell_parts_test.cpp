// The parts of the shell that need no running application: the string
// bundle (the strings-file reader, the bundle shipped in the source tree,
// and which table `localized` answers from once one is opened), launch at
// login through an XDG autostart entry, the one running instance and the
// hand-over of a second one, and the parts of the macOS shell that
// are not AppKit calls (where the status item lies in Qt's coordinates, and
// what the settings window's toggle makes of the login item's statuses).

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <set>

#include "app/model/menu_bar_text.h"
#include "app/model/strings.h"
#include "app/shell/autostart.h"
#include "app/shell/calorim_app.h"
#include "app/shell/login_item.h"
#include "app/shell/macos/screen_rect.h"
#include "app/shell/single_instance.h"
#include "core/energy_notice.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

std::optional<StringTable> parse(const char* text) { return parseStringTable(QByteArrayView(text)); }

// Writes `text` to `path`, making its folder; gives `path`'s folder.
QString write(const QString& path, const QByteArray& text) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) qFatal("cannot write %s", qPrintable(path));
  return QFileInfo(path).absolutePath();
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class ShellPartsTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private slots:
  void readsEntriesCommentsAndEscapesAndRejectsWhatIsNoStringsFile() {
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

    // No semicolon, no equals, unclosed text, unclosed comment, an unknown
    // escape, a short \U, a bare word, not UTF-8.
    for (const char* text : {"\"a\" = \"b\"", "\"a\" \"b\";", "\"a\" = \"b;", "\"a\" = \"b\"; /* ", "\"a\" = \"\\x\";",
                             "\"a\" = \"\\U00\";", "a = \"b\";", "\"a\" = \"\xFF\";"}) {
      QVERIFY2(!parse(text).has_value(), text);
    }
  }

  void shippedBundleHoldsEveryKey() {
    const auto table =
        parseStringTable(readAll(QDir(testing::sourceStringBundle()).filePath(QStringLiteral("Localizable.strings"))));
    QVERIFY(table.has_value());
    // Every key quoted in a `localized` call of the program's sources, and the labels of the menu-bar items.
    std::set<std::string> keys;
    for (MenuBarItem item : kAllMenuBarItems) keys.insert("mode." + std::string(rawValue(item)));
    for (MenuBarStyle style : kAllMenuBarStyles) keys.insert("settings.style." + std::string(rawValue(style)));
    const QRegularExpression quotedKey(QStringLiteral(R"re("([a-z]+\.[A-Za-z0-9]+)")re"));
    QDirIterator sources(QStringLiteral(FIXTURE_DIR "/../../app"), {QStringLiteral("*.cpp"), QStringLiteral("*.mm")},
                         QDir::Files, QDirIterator::Subdirectories);
    while (sources.hasNext()) {
      for (const QByteArray& line : readAll(sources.next()).split('\n')) {
        if (!line.contains("localized(")) continue;
        for (const QRegularExpressionMatch& key : quotedKey.globalMatch(QString::fromUtf8(line))) {
          keys.insert(key.captured(1).toStdString());
        }
      }
    }
    QVERIFY(keys.size() > 60);
    for (const std::string& key : keys) {
      const auto it = table->find(key);
      QVERIFY2(it != table->end() && !it->second.trimmed().isEmpty(), key.c_str());
    }
    // Formats take their arguments.
    QCOMPARE(table->at("menu.fan").arg(1), QStringLiteral("Fan 1"));
    QVERIFY(table->at("core.pCore").contains(QStringLiteral("%1")));
    QVERIFY(table->at("core.pCore").contains(QStringLiteral("%2")));
    // The terminal programs say why power is missing in the application's words.
    const auto notice = [](EnergyAccess::State state, const char* folder) {
      return QString::fromStdString(energyNotice({state, folder}).value_or("readable"));
    };
    QCOMPARE(notice(EnergyAccess::State::absent, ""), table->at("energy.absent"));
    QCOMPARE(notice(EnergyAccess::State::denied, "/sys/class/powercap"),
             table->at("energy.denied").arg(QStringLiteral("/sys/class/powercap")));
    QCOMPARE(notice(EnergyAccess::State::denied, ""), table->at("energy.unavailable"));
    QCOMPARE(notice(EnergyAccess::State::readable, "/sys/class/powercap"), QStringLiteral("readable"));
  }

  void openedBundleAnswersEveryLookup() {
    QTemporaryDir root;
    const QString broken =
        write(root.filePath(QStringLiteral("broken.bundle/Localizable.strings")), "\"menu.quit\" = ");
    const QString good =
        write(root.filePath(QStringLiteral("good.bundle/Localizable.strings")), "\"menu.quit\" = \"Beenden\";");
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

    // A failure names every location tried.
    QCOMPARE(stringBundleFailure({QStringLiteral("/a/CalorimGUI_Calorim.bundle"), QStringLiteral("/b/x.bundle")}),
             QStringLiteral("could not load resource bundle: from /a/CalorimGUI_Calorim.bundle, /b/x.bundle"));
    // The build tree's copy, beside the executable, comes first.
    QCOMPARE(stringBundleLocations().front(),
             QDir(QCoreApplication::applicationDirPath()).filePath("CalorimGUI_Calorim.bundle"));
  }

  void oneInstanceAndTheHandOverOfASecond() {
    QTemporaryDir runtime;
    const QString folder = runtime.filePath(QStringLiteral("run"));  // made on the way
    auto first = SingleInstance::claim(folder);
    QVERIFY(std::holds_alternative<std::unique_ptr<SingleInstance>>(first));
    SingleInstance& running = *std::get<std::unique_ptr<SingleInstance>>(first);
    QSignalSpy asked(&running, &SingleInstance::showRequested);

    // Junk, or too much of it, on the socket asks for nothing and ends nothing.
    for (const QByteArray& junk : {QByteArray("hello\n"), QByteArray(100, 's'), QByteArray("show")}) {
      QLocalSocket socket;
      socket.connectToServer(QDir(folder).filePath(QStringLiteral("calorim.socket")));
      QVERIFY(socket.waitForConnected(3000));
      socket.write(junk);
      QVERIFY(socket.waitForBytesWritten(3000));
      QTest::qWait(100);
    }
    QCOMPARE(asked.count(), 0);

    // A second program hands over and is told so.
    QVERIFY(std::holds_alternative<SingleInstance::Told>(SingleInstance::claim(folder)));
    QTRY_COMPARE(asked.count(), 1);

    // Once the first ends, the next claims the application; so does one after
    // a program that died and left its lock and socket behind.
    std::get<std::unique_ptr<SingleInstance>>(first).reset();
    QVERIFY(std::holds_alternative<std::unique_ptr<SingleInstance>>(SingleInstance::claim(folder)));
    write(QDir(folder).filePath(QStringLiteral("calorim.lock")), "999999999\ncalorim\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    write(QDir(folder).filePath(QStringLiteral("calorim.socket")), "left behind");
    QVERIFY(std::holds_alternative<std::unique_ptr<SingleInstance>>(SingleInstance::claim(folder)));

    // A folder that cannot be made is said to be one.
    const auto failed = SingleInstance::claim(QStringLiteral("/proc/calorim-cannot-be-here"));
    QVERIFY(std::holds_alternative<SingleInstance::Failed>(failed));
  }

  void theEntryInTheUsersAutostartFolderIsWrittenAndRemoved() {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/srv/config");
    QCOMPARE(XdgAutostart::defaultEntryPath(), QStringLiteral("/srv/config/autostart/calorim.desktop"));
    // A relative folder is ignored, as the base directory rules say.
    qputenv("XDG_CONFIG_HOME", "config");
    QCOMPARE(XdgAutostart::defaultEntryPath(), QDir::homePath() + QStringLiteral("/.config/autostart/calorim.desktop"));
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(XdgAutostart::defaultEntryPath(), QDir::homePath() + QStringLiteral("/.config/autostart/calorim.desktop"));
    qputenv("XDG_CONFIG_HOME", saved);

    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("config/autostart/calorim.desktop"));
    XdgAutostart autostart(path, QStringLiteral("/opt/my apps/cal$rim"));
    QVERIFY(!autostart.isEnabled());

    QVERIFY(autostart.setEnabled(true).succeeded);
    QVERIFY(autostart.isEnabled());
    const QByteArray entry = readAll(path);
    QVERIFY(entry.startsWith("[Desktop Entry]\n"));
    QVERIFY(entry.contains("\nType=Application\n"));
    // Quoted for the space, "$" escaped inside the quotes, and that
    // backslash doubled for the file's own string syntax.
    QVERIFY2(entry.contains("\nExec=\"/opt/my apps/cal\\\\$rim\"\n"), entry.constData());
    // Written through a temporary file that is gone once the entry is in place.
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList{"calorim.desktop"});
    QCOMPARE(XdgAutostart::entryText(QStringLiteral("/usr/bin/calorim")).count("\nExec=/usr/bin/calorim\n"), 1);

    // A hidden entry counts as off; only the main group counts.
    write(path, "[Desktop Entry]\nType=Application\nExec=calorim\nHidden = true\n");
    QVERIFY(!autostart.isEnabled());
    write(path, "[Desktop Entry]\nExec=calorim\nHidden=false\n[Desktop Action quit]\nHidden=true\n");
    QVERIFY(autostart.isEnabled());

    QVERIFY(autostart.setEnabled(false).succeeded);
    QVERIFY(!QFile::exists(path));
    QVERIFY(!autostart.isEnabled());
    QVERIFY(autostart.setEnabled(false).succeeded);  // nothing to remove is no failure

    // The entry's folder would have to be made inside a plain file: the registration fails.
    write(home.filePath(QStringLiteral("blocked")), "not a folder");
    XdgAutostart blocked(home.filePath(QStringLiteral("blocked/autostart/calorim.desktop")), QStringLiteral("calorim"));
    const LoginItemChange refused = blocked.setEnabled(true);
    QVERIFY(!refused.succeeded);
    QCOMPARE(refused.error, home.filePath(QStringLiteral("blocked/autostart")) + QStringLiteral(": cannot be made"));
    QVERIFY(!blocked.isEnabled());
  }

  void statusItemInQtCoordinates() {
    struct Case {
      QRectF appKit;
      qreal primaryHeight;
      QRect qt;
    };
    const Case cases[] = {
        // In the menu bar of a 1440 × 900 primary screen.
        {{1200, 876, 64, 24}, 900, {1200, 0, 64, 24}},
        // On a screen above the primary one, and on one to its left.
        {{300, 2076, 64, 24}, 900, {300, -1200, 64, 24}},
        {{-1620, 1056, 64, 24}, 900, {-1620, -180, 64, 24}},
        // Fractions widen to whole points.
        {{10.5, 876.25, 60, 23.5}, 900, {10, 0, 61, 24}},
        {{0, 0, 0, 24}, 900, {}},
        {{0, 876, 64, 24}, 0, {}},
        {{qQNaN(), 876, 64, 24}, 900, {}},
        {{1e300, 876, 64, 24}, 900, {}},
    };
    for (const Case& c : cases) QCOMPARE(qtScreenRect(c.appKit, c.primaryHeight), c.qt);
  }

  void loginItemReasonAndTheToggleOfEachStatus() {
    QVERIFY(testing::openSourceStringBundle());
    QVERIFY(loginItemUnavailableReason(QStringLiteral("/Applications/Calorim.app")).isEmpty());
    QVERIFY(loginItemUnavailableReason(QStringLiteral("/Users/ann/Downloads/Calorim.app")).isEmpty());
    const QString reason = loginItemUnavailableReason(
        QStringLiteral("/private/var/folders/x1/T/AppTranslocation/5C1E2A7B-0D7C-4F5E-9E43-1A2B3C4D5E6F/d/Calorim.app"));
    QVERIFY2(reason.contains(QStringLiteral("Move Calorim to your Applications folder")), qPrintable(reason));

    struct Case {
      bool wantOn;
      long rawStatus;
      bool shownOn, openSettings, succeeded;
    };
    const Case cases[] = {
        {true, 1, true, false, true},     // registered
        {true, 2, false, true, false},    // waits for the user to allow it
        {true, 0, false, false, false},   // registration failed
        {true, 3, false, false, false},   // not found (no application bundle)
        {true, 42, false, false, false},  // a status of a later system
        {false, 0, false, false, true},   // removed
        {false, 2, false, false, true},   // not allowed is off already
        {false, 1, true, false, false},   // removal failed
        {false, -1, false, false, true},
    };
    for (const Case& c : cases) {
      const LoginItemOutcome outcome = loginItemOutcome(c.wantOn, loginItemStatus(c.rawStatus));
      const QByteArray where = QByteArray::number(c.rawStatus) + (c.wantOn ? " on" : " off");
      QVERIFY2(outcome.shownOn == c.shownOn && outcome.openSettings == c.openSettings, where);
      QVERIFY2(outcome.succeeded == c.succeeded, where);
    }
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::ShellPartsTest)
#include "shell_parts_test.moc"
