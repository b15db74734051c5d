#include "app/shell/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <utility>

namespace calorim::app {
namespace {

// The program path as an Exec key wants it: quoted when it holds a reserved
// character, with `"`, `` ` ``, `$` and `\` escaped inside the quotes, then
// every `\` doubled again for the file's string syntax; `%` (a field code)
// doubled.
QString execArgument(const QString& path) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool quote = false;
  for (QChar c : path) quote = quote || reserved.contains(c);
  QString arg;
  for (QChar c : path) {
    if (c == u'%') {
      arg += QStringLiteral("%%");
    } else if (quote && (c == u'"' || c == u'`' || c == u'$' || c == u'\\')) {
      arg += QLatin1Char('\\');
      arg += c;
    } else {
      arg += c;
    }
  }
  if (quote) arg = QLatin1Char('"') + arg + QLatin1Char('"');
  return arg.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

}  // namespace

XdgAutostart::XdgAutostart(QString entryPath, QString executable)
    : entryPath_(std::move(entryPath)), executable_(std::move(executable)) {}

QString XdgAutostart::defaultEntryPath() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is ignored, as the XDG base directory rules say.
  if (config.isEmpty() || QDir::isRelativePath(config)) config = QDir::homePath() + QStringLiteral("/.config");
  return config + QStringLiteral("/autostart/calorim.desktop");
}

QString XdgAutostart::currentExecutable() {
  if (QCoreApplication::instance() != nullptr) return QCoreApplication::applicationFilePath();
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QByteArray XdgAutostart::entryText(const QString& executable) {
  const QString text = QStringLiteral(
                           "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Calorim\n"
                           "Comment=Power and temperature of this machine in the system tray\n"
                           "Exec=%1\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n")
                           .arg(execArgument(executable));
  return text.toUtf8();
}

bool XdgAutostart::isEnabled() const {
  QFile file(entryPath_);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
  bool inMainGroup = false;
  while (!file.atEnd()) {
    const QByteArray line = file.readLine().trimmed();
    if (line.startsWith('[')) {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const qsizetype equals = line.indexOf('=');
    if (equals < 0) continue;
    if (line.left(equals).trimmed() == "Hidden" && line.mid(equals + 1).trimmed() == "true") return false;
  }
  return true;
}

LoginItemChange XdgAutostart::setEnabled(bool enabled) {
  const auto failed = [this](const QString& reason) {
    return LoginItemChange{false, QStringLiteral("%1: %2").arg(entryPath_, reason)};
  };
  if (!enabled) {
    QFile entry(entryPath_);
    if (!entry.exists() || entry.remove()) return {true, {}};
    return failed(entry.errorString());
  }
  const QString folder = QFileInfo(entryPath_).absolutePath();
  if (!QDir().mkpath(folder)) return LoginItemChange{false, folder + QStringLiteral(": cannot be made")};
  QSaveFile file(entryPath_);
  if (!file.open(QIODevice::WriteOnly)) return failed(file.errorString());
  file.write(entryText(executable_));
  if (!file.commit()) return failed(file.errorString());
  return {true, {}};
}

}  // namespace calorim::app
