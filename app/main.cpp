// calorim: the tray application. Measures this machine, or with --simulate a
// simulated one, and shows the figures in the system tray, its panel and its
// windows until the panel's quit button (or the end of the session) ends it.
//
//   calorim [--simulate [PROFILE]]
//
// The command line follows core/base/command_line.h. One runs per user:
// started again while it runs, the program asks the running one to open its
// panel and ends with status 0.
//
// The display texts come from the string bundle "CalorimGUI_Calorim.bundle"
// beside the executable or in the installed data directory; without one the
// program stops at once with "could not load resource bundle: from " and the
// locations it tried, and exit status 1.

#include <QApplication>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/shell/calorim_app.h"
#include "app/shell/single_instance.h"
#include "app/shell/tray.h"
#include "app/model/strings.h"
#include "app/model/update_check.h"
#include "core/base/command_line.h"
#include "core/platform/simulated/simulated_machine.h"
#include "core/platform/native/native_platform.h"

namespace {

void fail(const QString& message) { std::fprintf(stderr, "calorim: %s\n", qPrintable(message)); }

void describe() {
  QCoreApplication::setApplicationName(QStringLiteral("calorim"));
  QCoreApplication::setApplicationVersion(calorim::app::buildVersion().value_or(QStringLiteral("0")));
}

constexpr std::string_view kProgram = "calorim";

constexpr std::string_view kHelp =
    "usage: calorim [--simulate [PROFILE]]\n"
    "       calorim --help | --version\n"
    "\n"
    "Power and temperature of this machine in the system tray.\n"
    "\n"
    "  --simulate [PROFILE]  show a simulated machine instead of this one: the built-in laptop,\n"
    "                        or the machine described by the JSON file PROFILE\n"
    "  --help                this text\n"
    "  --version             the version\n";

constexpr calorim::cli::OptionSpec kOptions[] = {{"--simulate", calorim::cli::Value::optional, "PROFILE"}};

struct Arguments {
  bool simulate = false;
  QString profile;  // empty: the built-in one
};

// Reads the command line; --help, --version and a mistake print and end the
// program here, before the QApplication exists, so that they work without a
// display.
Arguments parseArguments(int argc, char** argv) {
  const auto parsed = calorim::cli::parse(std::vector<std::string>(argv + 1, argv + argc), kOptions);
  if (const auto* error = std::get_if<calorim::cli::UsageError>(&parsed)) {
    std::exit(calorim::cli::printUsageError(kProgram, *error));
  }
  if (const auto* info = std::get_if<calorim::cli::InfoRequest>(&parsed)) {
    const QString version = calorim::app::buildVersion().value_or(QStringLiteral("0"));
    std::exit(calorim::cli::printInfo(*info, kProgram, kHelp, version.toStdString()));
  }
  const calorim::cli::ParsedOption* simulate = std::get<calorim::cli::Arguments>(parsed).last("--simulate");
  if (simulate == nullptr) return {};
  return {true, simulate->value ? QFile::decodeName(QByteArray::fromStdString(*simulate->value)) : QString()};
}

// The simulated machine on the wall clock; null after printing why the
// profile cannot be used.
std::shared_ptr<calorim::Platform> simulatedPlatform(const QString& profilePath) {
  std::optional<std::string> path;
  if (!profilePath.isEmpty()) path = QFile::encodeName(profilePath).toStdString();
  auto opened = calorim::fake::openSimulatedPlatform(path);
  if (const auto* failure = std::get_if<calorim::fake::ProfileFailure>(&opened)) {
    fail(QString::fromStdString(calorim::fake::profileFailureText(*failure, path)));
    return nullptr;
  }
  return std::get<std::shared_ptr<calorim::Platform>>(opened);
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments arguments = parseArguments(argc, argv);

  QApplication application(argc, argv);
  describe();
  // Docks match the windows to the desktop entry by this name (the Wayland
  // application id); the X11 window class is the application name, which the
  // entry names as StartupWMClass. No display name: Qt would append it to
  // every window title, after titles that already name the application.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.calorim.Calorim"));

  const QStringList locations = calorim::app::stringBundleLocations();
  if (!calorim::app::openStringBundle(locations)) {
    std::fprintf(stderr, "%s\n", qPrintable(calorim::app::stringBundleFailure(locations)));
    return 1;
  }

  // A second launch shows the running program's panel instead.
  auto claim = calorim::app::SingleInstance::claim(calorim::app::SingleInstance::defaultDirectory());
  if (std::holds_alternative<calorim::app::SingleInstance::Told>(claim)) return 0;
  if (const auto* failed = std::get_if<calorim::app::SingleInstance::Failed>(&claim)) {
    fail(failed->reason);
    return 1;
  }
  const auto instance = std::move(std::get<std::unique_ptr<calorim::app::SingleInstance>>(claim));

  std::shared_ptr<calorim::Platform> platform =
      arguments.simulate ? simulatedPlatform(arguments.profile) : calorim::makeNativePlatform();
  if (!platform) return 1;

  calorim::app::quitOnTerminationSignals();
  calorim::app::LiveMonitorOptions options;
  options.simulated = arguments.simulate;
  calorim::app::CalorimApp app(std::move(platform), std::move(options));
  QObject::connect(instance.get(), &calorim::app::SingleInstance::showRequested, &app,
                   [&app] { app.tray().showPanel(); });
  return QApplication::exec();
}
