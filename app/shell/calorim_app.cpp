#include "app/shell/calorim_app.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "app/ports/ports_view.h"
#include "app/model/preferences.h"
#include "app/shell/live_activity.h"
#include "app/shell/login_item.h"
#include "app/shell/presence.h"
#include "app/shell/status_item.h"
#include "app/shell/tray.h"
#include "app/shell/window_registry.h"
#include "app/model/strings.h"
#include "app/views/detail_view.h"
#include "app/views/settings_view.h"

namespace calorim::app {
namespace {

// Keeps the size of a window in the preferences as the user changes it, for
// the next window of its identifier to open at.
class SizeKeeper : public QObject {
 public:
  SizeKeeper(QWidget* window, Preferences& preferences, QString identifier)
      : QObject(window), preferences_(preferences), identifier_(std::move(identifier)) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Resize && window->isVisible() && !window->isMinimized() && !window->isMaximized() &&
        !window->isFullScreen()) {
      preferences_.setWindowSize(identifier_, window->size());
    }
    return false;
  }

 private:
  Preferences& preferences_;
  QString identifier_;
};

// The first size of a new window: the one it had when last closed, else
// `preferred`; at least its minimum and at most the screen's room.
void sizeNewWindow(QWidget* window, const QString& identifier, Preferences& preferences, QSize minimum,
                   QSize preferred) {
  window->setMinimumSize(minimum);
  QSize size = preferences.windowSize(identifier).value_or(preferred).expandedTo(minimum);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) size = size.boundedTo(screen->availableGeometry().size());
  window->resize(size);
  new SizeKeeper(window, preferences, identifier);
}

QSize screenRoom() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry().size() : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

}  // namespace

CalorimApp::CalorimApp(std::shared_ptr<Platform> platform, LiveMonitorOptions options, QObject* parent)
    : QObject(parent), platform_(std::move(platform)) {
  // A tray application has no main window: closing the last one must not end it.
  QApplication::setQuitOnLastWindowClosed(false);
  presence_ = makePresence();
  presence_->setPolicy(PresencePolicy::accessory);

  preferences_ = std::make_unique<Preferences>();
  monitor_ = std::make_unique<LiveMonitor>(platform_, std::move(options));
  liveActivity_ = beginLiveActivity();
  loginItem_ = makeLoginItem();
  windows_ = std::make_unique<WindowRegistry>();
  registerWindows();
  connect(windows_.get(), &WindowRegistry::lastWindowClosed, this,
          [this] { presence_->setPolicy(PresencePolicy::accessory); });

  PanelActions actions;
  actions.openWindow = [this](const QString& identifier) { openWindow(identifier); };
  actions.showApplication = [this] { presence_->setPolicy(PresencePolicy::regular); };
  actions.bringToFront = [this] { presence_->bringToFront(); };
  actions.quit = [this] { quit(); };
  tray_ = std::make_unique<TrayController>(*monitor_, *preferences_, std::move(actions), makeStatusItem());
  tray_->start();
}

CalorimApp::~CalorimApp() {
  tray_.reset();
  windows_.reset();
}

void CalorimApp::registerWindows() {
  windows_->add(
      kDetail,
      [this] {
        auto* window = new DetailView(*monitor_, *preferences_);
        window->setWindowTitle(localized(monitor_->simulated() ? "app.nameSimulated" : "app.name"));
        // Its sizes with the style's fonts and margins, as it will be shown.
        window->ensurePolished();
        sizeNewWindow(window, kDetail, *preferences_, {420, 450}, window->openingSize(screenRoom()));
        return window;
      },
      // The panel's button paused sampling for a window that is already open,
      // and a window brought forward is not shown anew, so it would not clear
      // the pause itself.
      [this](QWidget*) { monitor_->setPaused(false); });

  windows_->add(kSettings, [this] {
    auto* window = new SettingsView(*preferences_, *loginItem_);
    window->setWindowTitle(localized("settings.title"));
    // Only what this machine measures is offered, once the monitor knows it.
    window->setMachine(monitor_->latest().machine);
    connect(monitor_.get(), &LiveMonitor::latestChanged, window,
            [this, window] { window->setMachine(monitor_->latest().machine); });
    // As large as its sections, and resizable: smaller, it scrolls.
    sizeNewWindow(window, kSettings, *preferences_, {SettingsView::kMinimumWidth, 200}, window->sizeHint());
    return window;
  });

  windows_->add(kPorts, [this] {
    auto* window = new ports::PortsView(platform_, monitor_->simulated());
    window->setWindowTitle(localized(monitor_->simulated() ? "ports.titleSimulated" : "ports.title"));
    sizeNewWindow(window, kPorts, *preferences_, {400, 400}, {480, 560});
    return window;
  });
}

void CalorimApp::openWindow(const QString& identifier) { windows_->open(identifier); }

// exit, not quit: quit first asks every window to close, and the panel's
// window where no tray exists declines (it minimises instead).
void CalorimApp::quit() { QCoreApplication::exit(0); }

QStringList stringBundleLocations() {
  const QString name = QString::fromUtf8(kStringBundleName.data(), static_cast<qsizetype>(kStringBundleName.size()));
  const QDir executableDir(QCoreApplication::applicationDirPath());
  QStringList locations = {
      executableDir.filePath(name),
      QDir::cleanPath(executableDir.filePath(QStringLiteral(CALORIM_DATA_FROM_BIN "/") + name)),
      QStringLiteral(CALORIM_DATA_DIR "/") + name,
  };
  locations.removeDuplicates();
  return locations;
}

namespace {

int signalSockets[2] = {-1, -1};

void forwardSignal(int) {
  const char byte = 1;
  // Nothing to do about a full socket: one byte already waiting is enough.
  [[maybe_unused]] const auto written = ::write(signalSockets[0], &byte, 1);
}

}  // namespace

void quitOnTerminationSignals() {
  if (signalSockets[0] >= 0) return;
  // Flags set one by one: macOS's socketpair takes no SOCK_CLOEXEC or SOCK_NONBLOCK.
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0) return;
  for (int fd : signalSockets) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  // Only the write to a socket happens in the handler; the quit follows in
  // the event loop.
  auto* notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    char byte = 0;
    while (::read(signalSockets[1], &byte, 1) > 0) {
    }
    QCoreApplication::exit(0);
  });
  struct sigaction action = {};
  action.sa_handler = forwardSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
}

}  // namespace calorim::app
