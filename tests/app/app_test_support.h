#pragma once
// Helpers shared by the application tests: a clock whose long waits the test
// releases one by one, an event-loop wait with a generous bound, and a local
// HTTP server with canned answers.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/platform/clock_port.h"
#include "core/platform/fake/fake_platform.h"

namespace calorim::app::testing {

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

  // The status line's code and text, and the body, of every later answer.
  void answer(int status, QByteArray body, QByteArray reason = "OK") {
    status_ = status;
    reason_ = std::move(reason);
    body_ = std::move(body);
  }
  // Close connections without answering at all.
  void hangUp() { hangUp_ = true; }
  [[nodiscard]] int requests() const { return requests_; }
  [[nodiscard]] QString url(const char* path = "/version.json") const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(QLatin1String(path));
  }

 private:
  void serve(QTcpSocket* socket) {
    QByteArray& pending = buffers_[socket];
    pending += socket->readAll();
    if (!pending.contains("\r\n\r\n")) return;
    buffers_.erase(socket);
    ++requests_;
    if (!hangUp_) {
      QByteArray response = "HTTP/1.1 " + QByteArray::number(status_) + " " + reason_ + "\r\n" +
                            "Content-Type: application/json\r\n" +
                            "Content-Length: " + QByteArray::number(body_.size()) + "\r\n" +
                            "Connection: close\r\n\r\n" + body_;
      socket->write(response);
    }
    socket->disconnectFromHost();
  }

  int status_ = 200;
  QByteArray reason_ = "OK";
  QByteArray body_;
  bool hangUp_ = false;
  int requests_ = 0;
  std::map<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace calorim::app::testing
