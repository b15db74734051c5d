#pragma once
// What the ports window shows: the power adapter with its USB Power Delivery
// offers, the Thunderbolt / USB4 devices and the USB devices, read through
// the three port readers.
//
// The readers may block (the hardware report runs a child process), so a
// refresh reads on a pool thread and publishes the three results together on
// the UI thread. Refreshes never overlap: one asked for while another runs is
// skipped. While started, the model refreshes every three seconds.

#include <memory>
#include <optional>
#include <vector>

#include <QObject>

#include "app/ports/port_readers.h"
#include "core/platform/platform.h"

class QTimer;

namespace calorim::ports {

// The three readings of one refresh.
struct PortsReadings {
  std::optional<AdapterInfo> adapterInfo;
  std::vector<TBPort> tbPorts;
  std::vector<USBDevice> usbDevices;
};

// Reads the adapter, then the Thunderbolt / USB4 devices, then the USB
// devices. Blocks while the readers run (the hardware report until `stop` is
// requested); never throws.
[[nodiscard]] PortsReadings readPorts(Platform& platform, const StopToken& stop = {});

class PortsModel : public QObject {
  Q_OBJECT

 public:
  static constexpr int kRefreshIntervalMs = 3000;

  // Reads through `platform`'s registry and hardware-report ports, which the
  // model keeps alive for as long as a refresh may use them.
  explicit PortsModel(std::shared_ptr<Platform> platform, QObject* parent = nullptr);
  // Does not wait for a running refresh; its result is dropped.
  ~PortsModel() override;

  // Starts reading all three sources off the UI thread; `changed` follows
  // once the results are in. Does nothing while a refresh is running.
  void refresh();
  // Refreshes now and every three seconds from now on, until `stop`.
  void start();
  void stop();

  // The results of the latest finished refresh (absent / empty before one).
  [[nodiscard]] const PortsReadings& readings() const { return state_; }
  [[nodiscard]] bool hasReadings() const { return published_; }
  [[nodiscard]] bool isRefreshing() const { return refreshing_; }

 signals:
  // A refresh has finished; each flag tells whether that part differs from
  // the previous refresh (devices compared without their ids, which are new
  // on every read). All three are set after the first refresh.
  void changed(bool adapter, bool thunderbolt, bool usb);

 private:
  struct Mailbox;

  void publish(PortsReadings readings);

  std::shared_ptr<Platform> platform_;
  std::shared_ptr<Mailbox> mailbox_;
  PortsReadings state_;
  bool published_ = false;  // a refresh has finished at least once
  bool refreshing_ = false;
  QTimer* timer_;
};

}  // namespace calorim::ports
