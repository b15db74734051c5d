// Launch at login through an XDG autostart entry, on its own and behind the
// settings window's toggle.

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/model/preferences.h"
#include "app/shell/autostart.h"
#include "app/views/settings_view.h"
#include "tests/app/ui_test_support.h"

namespace calorim::app {
namespace {

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& text) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) qFatal("cannot write %s", qPrintable(path));
}

}  // namespace

class ShellAutostartTest : public QObject {
  Q_OBJECT

 public:
  static void initMain() { testing::prepareTestProgram(); }

 private slots:
  void entryLivesInTheUsersAutostartFolder() {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/srv/config");
    QCOMPARE(XdgAutostart::defaultEntryPath(), QStringLiteral("/srv/config/autostart/calorim.desktop"));
    // A relative folder is ignored, as the base directory rules say.
    qputenv("XDG_CONFIG_HOME", "config");
    QCOMPARE(XdgAutostart::defaultEntryPath(), QDir::homePath() + QStringLiteral("/.config/autostart/calorim.desktop"));
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(XdgAutostart::defaultEntryPath(), QDir::homePath() + QStringLiteral("/.config/autostart/calorim.desktop"));
    qputenv("XDG_CONFIG_HOME", saved);
  }

  void registersAndRemovesTheEntry() {
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("config/autostart/calorim.desktop"));
    XdgAutostart autostart(path, QStringLiteral("/opt/my apps/cal$rim"));
    QVERIFY(!autostart.isEnabled());

    QVERIFY(autostart.setEnabled(true));
    QVERIFY(autostart.isEnabled());
    const QByteArray entry = readAll(path);
    QVERIFY(entry.startsWith("[Desktop Entry]\n"));
    QVERIFY(entry.contains("\nType=Application\n"));
    // Quoted for the space, "$" escaped inside the quotes, and that
    // backslash doubled for the file's own string syntax.
    QVERIFY2(entry.contains("\nExec=\"/opt/my apps/cal\\\\$rim\"\n"), entry.constData());
    // Written through a temporary file that is gone once the entry is in place.
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList{"calorim.desktop"});

    QVERIFY(autostart.setEnabled(false));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!autostart.isEnabled());
    QVERIFY(autostart.setEnabled(false));  // nothing to remove is no failure
    QCOMPARE(XdgAutostart::entryText(QStringLiteral("/usr/bin/calorim")).count("\nExec=/usr/bin/calorim\n"), 1);
  }

  void hiddenEntryCountsAsOff() {
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("calorim.desktop"));
    const XdgAutostart autostart(path, QStringLiteral("/usr/bin/calorim"));
    write(path, "[Desktop Entry]\nType=Application\nExec=calorim\nHidden = true\n");
    QVERIFY(!autostart.isEnabled());
    write(path, "[Desktop Entry]\nExec=calorim\nHidden=false\n");
    QVERIFY(autostart.isEnabled());
    // Only the main group counts.
    write(path, "[Desktop Entry]\nExec=calorim\n[Desktop Action quit]\nHidden=true\n");
    QVERIFY(autostart.isEnabled());
  }

  void failedRegistrationShowsTheRealState() {
    QTemporaryDir home;
    // The entry's folder would have to be made inside a plain file.
    write(home.filePath(QStringLiteral("config")), "not a folder");
    XdgAutostart autostart(home.filePath(QStringLiteral("config/autostart/calorim.desktop")),
                           QStringLiteral("/usr/bin/calorim"));
    QVERIFY(!autostart.setEnabled(true));

    Preferences preferences;
    SettingsView view(preferences, autostart);
    auto* toggle = view.findChild<QCheckBox*>(QStringLiteral("launchAtLogin"));
    QVERIFY(!toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(6, toggle->height() / 2));
    QVERIFY(!toggle->isChecked());
    QVERIFY(!autostart.isEnabled());
  }
};

}  // namespace calorim::app

QTEST_MAIN(calorim::app::ShellAutostartTest)
#include "shell_autostart_test.moc"
