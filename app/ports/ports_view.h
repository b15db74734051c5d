#pragma once
// The content of the ports window: the power adapter with its USB Power
// Delivery offers, the Thunderbolt / USB4 devices and the USB devices, read
// through the three port readers and refreshed every three seconds while the
// view is shown. Powers in W, voltages in V, currents in A; every number is
// written in the C locale, whatever the user's locale.
//
// The readers may block (the hardware report runs a child process), so a
// refresh reads on a pool thread and publishes the three results together on
// the UI thread. Refreshes never overlap: one asked for while another runs is
// skipped. Until the first refresh has finished the page is blank rather than
// claiming that nothing is connected.

#include <memory>
#include <optional>
#include <vector>

#include <QScrollArea>
#include <QTimer>

#include "app/ports/port_readers.h"
#include "core/platform/platform.h"

class QFrame;
class QLabel;
class QVBoxLayout;

namespace calorim::ports {

// The three readings of one refresh.
struct PortsReadings {
  std::optional<AdapterInfo> adapterInfo;
  std::vector<TBPort> tbPorts;
  std::vector<USBDevice> usbDevices;
};

// Reads the adapter, then the Thunderbolt / USB4 devices, then the USB
// devices. Blocks while the readers run; never throws.
[[nodiscard]] PortsReadings readPorts(Platform& platform);

class PortsView : public QScrollArea {
  Q_OBJECT

 public:
  static constexpr int kRefreshIntervalMs = 3000;

  // Reads through `platform`'s registry and hardware-report ports, which the
  // view keeps alive for as long as a refresh may use them.
  explicit PortsView(std::shared_ptr<Platform> platform, QWidget* parent = nullptr);
  // Does not wait for a running refresh; its result is dropped.
  ~PortsView() override;

  // Starts reading all three sources off the UI thread; `refreshed` follows
  // once the results are shown. Does nothing while a refresh is running.
  void refresh();

  // The results of the latest finished refresh (absent / empty before one).
  [[nodiscard]] const std::optional<AdapterInfo>& adapterInfo() const { return state_.adapterInfo; }
  [[nodiscard]] const std::vector<TBPort>& tbPorts() const { return state_.tbPorts; }
  [[nodiscard]] const std::vector<USBDevice>& usbDevices() const { return state_.usbDevices; }

  [[nodiscard]] bool isRefreshing() const { return refreshing_; }
  // True only while the view is shown.
  [[nodiscard]] bool isRefreshTimerActive() const { return timer_->isActive(); }

 signals:
  // A refresh has finished and its results are on screen.
  void refreshed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Mailbox;

  void publish(PortsReadings readings);
  // Lays the page out at once instead of on later passes of the event loop.
  void layOutNow();
  // Shows or hides `section` and gives it a new body, which `fill` fills
  // only when the section is shown.
  void replaceBody(QFrame* section, bool shown, void (PortsView::*fill)(QVBoxLayout*));
  void fillAdapter(QVBoxLayout* body);
  void fillThunderbolt(QVBoxLayout* body);
  void fillUsb(QVBoxLayout* body);
  template <class Device, class Fields>
  void addDeviceRows(QVBoxLayout* body, const std::vector<Device>& devices, Fields fields);

  std::shared_ptr<Platform> platform_;
  std::shared_ptr<Mailbox> mailbox_;
  PortsReadings state_;
  bool published_ = false;  // a refresh has finished at least once
  bool refreshing_ = false;
  QTimer* timer_;

  QFrame* adapterSection_;
  QFrame* thunderboltSection_;
  QFrame* usbSection_;
  QLabel* emptyLabel_;
};

}  // namespace calorim::ports
