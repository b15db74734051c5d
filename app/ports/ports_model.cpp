#include "app/ports/ports_model.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include <QMetaObject>
#include <QThreadPool>
#include <QTimer>

namespace calorim::ports {
namespace {

bool sameTb(const std::vector<TBPort>& a, const std::vector<TBPort>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TBPort& x, const TBPort& y) {
    return x.deviceName == y.deviceName && x.vendorName == y.vendorName && x.speed == y.speed;
  });
}
bool sameUsb(const std::vector<USBDevice>& a, const std::vector<USBDevice>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const USBDevice& x, const USBDevice& y) {
    return x.name == y.name && x.vendor == y.vendor && x.speed == y.speed;
  });
}

}  // namespace

PortsReadings readPorts(Platform& platform, const StopToken& stop) {
  PortsReadings readings;
  if (platform.registry) readings.adapterInfo = readAdapterInfo(*platform.registry);
  if (platform.hardwareReport) readings.tbPorts = readThunderboltPorts(*platform.hardwareReport, stop);
  if (platform.registry) readings.usbDevices = readUSBDevices(*platform.registry);
  return readings;
}

// Where a pool thread hands its readings back. The model clears `model` when
// it is destroyed; posting under the lock means a posted call always targets
// a live model, and Qt drops calls still queued for a model that is then deleted.
// The model's end also stops a hardware report under way, so that quitting
// never waits for the reporting tool.
struct PortsModel::Mailbox {
  std::mutex mutex;
  PortsModel* model = nullptr;
  StopSource gone;
};

PortsModel::PortsModel(std::shared_ptr<Platform> platform, QObject* parent)
    : QObject(parent), platform_(std::move(platform)), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->model = this;
  timer_ = new QTimer(this);
  timer_->setObjectName("refreshTimer");
  timer_->setInterval(kRefreshIntervalMs);
  connect(timer_, &QTimer::timeout, this, &PortsModel::refresh);
}

PortsModel::~PortsModel() {
  mailbox_->gone.requestStop();
  const std::lock_guard lock(mailbox_->mutex);
  mailbox_->model = nullptr;
}

void PortsModel::refresh() {
  if (refreshing_) return;  // the previous one is still reading: skip this tick
  refreshing_ = true;
  QThreadPool::globalInstance()->start([platform = platform_, mailbox = mailbox_] {
    PortsReadings readings = readPorts(*platform, mailbox->gone.token());
    const std::lock_guard lock(mailbox->mutex);
    if (PortsModel* model = mailbox->model) {
      QMetaObject::invokeMethod(
          model, [model, readings = std::move(readings)]() mutable { model->publish(std::move(readings)); },
          Qt::QueuedConnection);
    }
  });
}

void PortsModel::start() {
  refresh();
  timer_->start();  // a new period from now on every start
}

void PortsModel::stop() { timer_->stop(); }

void PortsModel::publish(PortsReadings readings) {
  refreshing_ = false;
  const bool first = !published_;
  const bool adapter = first || readings.adapterInfo != state_.adapterInfo;
  const bool thunderbolt = first || !sameTb(readings.tbPorts, state_.tbPorts);
  const bool usb = first || !sameUsb(readings.usbDevices, state_.usbDevices);
  state_ = std::move(readings);
  published_ = true;
  emit changed(adapter, thunderbolt, usb);
}

}  // namespace calorim::ports
