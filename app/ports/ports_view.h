#pragma once
// The content of the ports window: the power adapter with its USB Power
// Delivery offers, the Thunderbolt / USB4 devices and the USB devices, read
// through the three port readers and refreshed every three seconds while the
// view is shown. Powers in W, voltages in V, currents in A; every number is
// written in the C locale, whatever the user's locale.
//
// The readings come from a `PortsModel`, which the view starts while it is
// shown. Until the first refresh has finished the page is blank rather than
// claiming that nothing is connected.

#include <memory>
#include <vector>

#include <QScrollArea>

#include "app/ports/ports_model.h"

class QFrame;
class QLabel;
class QVBoxLayout;

namespace calorim::ports {

class PortsView : public QScrollArea {
  Q_OBJECT

 public:
  // Reads through `platform` (see `PortsModel`).
  // A `simulated` machine is said to be one above the sections ("simulatedLabel").
  explicit PortsView(std::shared_ptr<Platform> platform, bool simulated = false, QWidget* parent = nullptr);

  [[nodiscard]] PortsModel& model() const { return *model_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Rebuilds the sections whose readings changed.
  void display(bool adapterChanged, bool thunderboltChanged, bool usbChanged);
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

  PortsModel* model_;
  QFrame* adapterSection_;
  QFrame* thunderboltSection_;
  QFrame* usbSection_;
  QLabel* emptyLabel_;
};

}  // namespace calorim::ports
