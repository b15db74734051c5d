#pragma once
// Helpers shared by the application tests: the start of every test program,
// a clock whose long waits the test releases one by one, an event-loop wait
// with a generous bound, a local HTTP server with canned answers, the source
// tree's string bundle, a monitor on the simulated laptop that publishes only
// what the test hands it, and one builder of samples.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QNetworkProxy>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/model/live_monitor.h"
#include "app/model/strings.h"
#include "core/platform/clock_port.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/simulated/simulated_machine.h"

namespace calorim::app::testing {

// The start of every application test program, before its application
// object: the offscreen platform unless another is asked for, the
// preferences and XDG_CONFIG_HOME in a fresh folder for the life of the
// program, and no network proxy.
inline void prepareTestProgram() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QTemporaryDir dir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath(QStringLiteral("settings")));
  qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
  QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

// Forgets every stored preference.
inline void clearPreferences() { QSettings(QStringLiteral("Calorim"), QStringLiteral("Calorim")).clear(); }

// The string bundle of the source tree.
inline QString sourceStringBundle() {
  return QDir::cleanPath(QStringLiteral(FIXTURE_DIR "/../../app/resources/CalorimGUI_Calorim.bundle"));
}

// Makes `localized` answer from the source tree's bundle, as the program
// answers from its copy; false when it cannot be opened.
inline bool openSourceStringBundle() { return openStringBundle({sourceStringBundle()}).has_value(); }

// A sample with the simulated laptop's figures, its CPU at `cpuTemp` and the
// given fans.
inline PowerSample sampleWith(double cpuTemp, std::vector<FanInfo> fans = {}) {
  PowerSample s = PowerSample::zero({});
  s.cpu = 3.41;
  s.gpu = 1.07;
  s.ane = 0.0;
  s.dram = 0.52;
  s.total = 5.63;
  s.cpuTemp = cpuTemp;
  s.gpuTemp = 42.3;
  s.cpuUsage = 0.234;
  s.gpuUsage = 0.081;
  s.fans = std::move(fans);
  return s;
}

// Runs the event loop until `done` holds or `seconds` have passed; returns
// `done()`. The bound only keeps a broken build from hanging: nothing here
// measures time.
inline bool waitUntil(const std::function<bool()>& done, int seconds = 20) {
  const QDeadlineTimer deadline{std::chrono::seconds(seconds)};
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

// The monitor's clock in tests. Time is a fake clock (the simulated
// machine's, so its readings move on), advanced by every wait. Waits of
// `holdFrom` seconds or more are held until the test releases them (or the
// monitor stops); shorter ones pass after a real millisecond, so a loop of
// them does not spin.
class SteppingClock final : public ClockPort {
 public:
  SteppingClock(fake::FakeClock& time, double holdFrom) : time_(time), holdFrom_(holdFrom) {}

  // Lets `count` held waits pass.
  void release(int count = 1) {
    {
      std::lock_guard lock(mutex_);
      permits_ += count;
    }
    changed_.notify_all();
  }
  // Every wait so far, in seconds, in order.
  [[nodiscard]] std::vector<double> waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
  }
  // Waits being held right now.
  [[nodiscard]] int holding() const {
    std::lock_guard lock(mutex_);
    return holding_;
  }

  std::chrono::system_clock::time_point now() override { return time_.now(); }
  std::chrono::steady_clock::time_point steadyNow() override { return time_.steadyNow(); }
  void sleep(double seconds) override { time_.sleep(seconds); }
  bool sleep(double seconds, StopToken stop) override {
    std::unique_lock lock(mutex_);
    waits_.push_back(seconds);
    if (seconds >= holdFrom_) {
      ++holding_;
      // A stop wakes no condition variable: look for it every millisecond.
      while (permits_ == 0 && !stop.stopRequested()) changed_.wait_for(lock, std::chrono::milliseconds(1));
      --holding_;
      if (stop.stopRequested()) return false;
      --permits_;
    } else {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    time_.sleep(seconds);
    return !stop.stopRequested();
  }

 private:
  fake::FakeClock& time_;
  const double holdFrom_;
  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<double> waits_;
  int permits_ = 0;
  int holding_ = 0;
};

// An HTTP server on 127.0.0.1 that answers every request with one canned
// response and closes the connection. Runs in the test's event loop.
class CannedHttpServer : public QTcpServer {
 public:
  CannedHttpServer() {
    listen(QHostAddress::LocalHost, 0);
    connect(this, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }

  // The status code and the body of every later answer.
  void answer(int status, QByteArray body) {
    status_ = status;
    body_ = std::move(body);
  }
  // Close connections without answering at all.
  void hangUp() { hangUp_ = true; }
  [[nodiscard]] int requests() const { return requests_; }
  [[nodiscard]] QString url() const { return QStringLiteral("http://127.0.0.1:%1/version.json").arg(serverPort()); }

 private:
  void serve(QTcpSocket* socket) {
    QByteArray& pending = buffers_[socket];
    pending += socket->readAll();
    if (!pending.contains("\r\n\r\n")) return;
    buffers_.erase(socket);
    ++requests_;
    if (!hangUp_) {
      QByteArray response = "HTTP/1.1 " + QByteArray::number(status_) + " Status\r\n" +
                            "Content-Type: application/json\r\n" +
                            "Content-Length: " + QByteArray::number(body_.size()) + "\r\n" +
                            "Connection: close\r\n\r\n" + body_;
      socket->write(response);
    }
    socket->disconnectFromHost();
  }

  int status_ = 200;
  QByteArray body_;
  bool hangUp_ = false;
  int requests_ = 0;
  std::map<QTcpSocket*, QByteArray> buffers_;
};

// The simulated laptop on a fake clock. Waits of `holdFrom` seconds or more
// are held: with `LiveMonitor::kStartDelay` the loop never starts and only
// the test publishes; with `LiveMonitor::kPause` the monitor publishes one
// real sample and runs the update check, then holds.
struct SimulatedRig {
  explicit SimulatedRig(double holdFrom = LiveMonitor::kStartDelay, QString updateUrl = QString())
      : machine(fake::builtinProfile()),
        clock(std::make_shared<SteppingClock>(*machine.fakeClock(), holdFrom)) {
    options.clock = clock;
    options.updateUrl = std::move(updateUrl);
  }

  std::unique_ptr<LiveMonitor> makeMonitor() const { return std::make_unique<LiveMonitor>(machine.platform(), options); }

  fake::SimulatedMachine machine;
  std::shared_ptr<SteppingClock> clock;
  LiveMonitorOptions options;
};

}  // namespace calorim::app::testing
