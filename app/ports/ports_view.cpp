#include "app/ports/ports_view.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/model/number_text.h"
#include "app/model/strings.h"
#include "app/views/palette.h"

namespace calorim::ports {
namespace {

using app::fixedText;
using app::integerText;
using app::localized;

constexpr int kSectionSpacing = 16;
constexpr int kStackSpacing = 8;
constexpr int kNameVendorSpacing = 2;
constexpr int kInfoLabelWidth = 90;
constexpr int kPdoLabelWidth = 40;
constexpr int kPdoVoltageWidth = 48;
constexpr int kPdoCurrentWidth = 58;
constexpr int kColumnSpacing = 8;

// Text sizes relative to the body font, in the proportions of the desktop's
// text styles (body 13, subheadline 11, caption 10).
QFont scaled(QFont font, double factor) {
  font.setPointSizeF(font.pointSizeF() * factor);
  return font;
}
QFont headlineFont(const QFont& body) {
  QFont font = body;
  font.setWeight(QFont::DemiBold);
  return font;
}
QFont subheadlineFont(const QFont& body) { return scaled(body, 11.0 / 13.0); }
QFont captionFont(const QFont& body) { return scaled(body, 10.0 / 13.0); }
QFont captionMonoFont(const QFont& body) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (!QFontInfo(font).fixedPitch()) {  // platforms without a theme answer with the body font
    font = QFont(QStringLiteral("monospace"));
    font.setStyleHint(QFont::TypeWriter);
  }
  font.setPointSizeF(captionFont(body).pointSizeF());
  return font;
}
QFont weighted(QFont font, QFont::Weight weight) {
  font.setWeight(weight);
  return font;
}

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

QLabel* makeLabel(const QString& text, const QFont& font, const QString& objectName = {}) {
  auto* label = new QLabel(text);
  label->setFont(font);
  label->setTextFormat(Qt::PlainText);
  if (!objectName.isEmpty()) label->setObjectName(objectName);
  return label;
}

void makeSecondary(QLabel* label) {
  QPalette palette = label->palette();
  QColor color = palette.color(QPalette::WindowText);
  color.setAlphaF(0.55);
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
}

QFrame* makeDivider() {
  auto* line = new QFrame;
  line->setObjectName("divider");
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Plain);
  line->setLineWidth(1);
  QPalette palette = line->palette();
  palette.setColor(QPalette::WindowText, palette.color(QPalette::Mid));
  line->setPalette(palette);
  return line;
}

QFrame* makeSection(const QString& objectName) {
  auto* section = new QFrame;
  section->setObjectName(objectName);
  section->setFrameShape(QFrame::StyledPanel);
  section->setStyleSheet(QStringLiteral("QFrame#%1 { border: 1px solid palette(mid); border-radius: 8px;"
                                        " background: palette(base); }")
                             .arg(objectName));
  auto* layout = new QVBoxLayout(section);
  layout->setContentsMargins(12, 10, 12, 10);
  layout->setSpacing(0);
  section->hide();
  return section;
}

}  // namespace

PortsView::PortsView(std::shared_ptr<Platform> platform, bool simulated, QWidget* parent)
    : QScrollArea(parent), model_(new PortsModel(std::move(platform), this)) {
  setObjectName("portsView");
  setMinimumSize(380, 300);
  setWidgetResizable(true);
  setFrameShape(QFrame::NoFrame);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  auto* page = new QWidget;
  page->setObjectName("portsPage");
  auto* stack = new QVBoxLayout(page);
  stack->setSpacing(kSectionSpacing);

  adapterSection_ = makeSection("adapterSection");
  thunderboltSection_ = makeSection("thunderboltSection");
  usbSection_ = makeSection("usbSection");
  emptyLabel_ = makeLabel(localized("ports.empty"), font(), "emptyStateLabel");
  emptyLabel_->setAlignment(Qt::AlignCenter);
  emptyLabel_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  makeSecondary(emptyLabel_);
  emptyLabel_->hide();

  if (simulated) {
    // Said in the content too: a title is easily overlooked, or not shown at all.
    QLabel* banner = makeLabel(localized("detail.simulated"), font(), "simulatedLabel");
    banner->setWordWrap(true);
    makeSecondary(banner);
    stack->addWidget(banner);
  }
  stack->addWidget(adapterSection_);
  stack->addWidget(thunderboltSection_);
  stack->addWidget(usbSection_);
  stack->addWidget(emptyLabel_);
  stack->addStretch(1);
  setWidget(page);

  connect(model_, &PortsModel::changed, this, &PortsView::display);
}

void PortsView::display(bool adapterChanged, bool thunderboltChanged, bool usbChanged) {
  const PortsReadings& state = model_->readings();
  if (!adapterChanged && !thunderboltChanged && !usbChanged) return;
  // Sections whose readings did not change keep their widgets. The new rows
  // are laid out here and now, not on a later pass, so no frame shows them
  // squeezed into the old sizes; the page is repainted once, at the scroll
  // position it had.
  const int scroll = verticalScrollBar()->value();
  widget()->setUpdatesEnabled(false);
  if (adapterChanged) replaceBody(adapterSection_, state.adapterInfo.has_value(), &PortsView::fillAdapter);
  if (thunderboltChanged) replaceBody(thunderboltSection_, !state.tbPorts.empty(), &PortsView::fillThunderbolt);
  if (usbChanged) replaceBody(usbSection_, !state.usbDevices.empty(), &PortsView::fillUsb);
  emptyLabel_->setVisible(!state.adapterInfo && state.tbPorts.empty() && state.usbDevices.empty());
  layOutNow();
  verticalScrollBar()->setValue(scroll);
  widget()->setUpdatesEnabled(true);
}

void PortsView::layOutNow() {
  // Qt would lay the changed sections out over several passes of the event
  // loop, one level at a time; here the page is fitted to its rows first (the
  // scroll area handles its layout request by resizing the page and updating
  // the scroll range), then every layout inside it, top down.
  QEvent relayout(QEvent::LayoutRequest);
  QCoreApplication::sendEvent(this, &relayout);
  QWidget* page = widget();
  page->layout()->activate();
  for (QWidget* child : page->findChildren<QWidget*>()) {
    if (QLayout* layout = child->layout()) layout->activate();
  }
}

void PortsView::replaceBody(QFrame* section, bool shown, void (PortsView::*fill)(QVBoxLayout*)) {
  // The new body is filled before it joins the section, so the section's
  // layout measures it complete.
  auto* body = new QWidget;
  body->setObjectName(section->objectName() + "Body");
  auto* stack = new QVBoxLayout(body);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(kStackSpacing);
  if (shown) (this->*fill)(stack);

  QLayout* outer = section->layout();
  while (QLayoutItem* item = outer->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  outer->addWidget(body);
  body->show();  // at once: a widget added to a shown parent would only appear on the next event loop pass
  section->setVisible(shown);
  section->updateGeometry();
}

void PortsView::fillAdapter(QVBoxLayout* body) {
  const AdapterInfo& adapter = *model_->readings().adapterInfo;
  const QFont bodyFont = font();
  const QFont mono = captionMonoFont(bodyFont);

  auto* header = new QHBoxLayout;
  header->addWidget(makeLabel(localized("ports.adapter"), headlineFont(bodyFont), "adapterTitle"));
  header->addStretch(1);
  if (adapter.systemPowerW > 0) {
    header->addWidget(
        makeLabel(localized("ports.inputPower").arg(fixedText(adapter.systemPowerW, 1)), weighted(bodyFont, QFont::DemiBold), "adapterInputPower"));
  }
  body->addLayout(header);

  const auto addInfoRow = [&](const QString& label, const QString& value) {
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    QLabel* labelLabel = makeLabel(label, mono, "infoLabel");
    labelLabel->setFixedWidth(kInfoLabelWidth);
    labelLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    makeSecondary(labelLabel);
    QLabel* valueLabel = makeLabel(value, mono, "infoValue");
    valueLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    valueLabel->setWordWrap(true);  // a long description wraps instead of widening the page
    // Read alone, "65 W" would not say what it is.
    valueLabel->setAccessibleName((label + QLatin1Char(' ') + value).trimmed());
    row->addWidget(labelLabel);
    row->addWidget(valueLabel, 1);
    auto* holder = new QWidget;
    holder->setObjectName("infoRow");
    row->setContentsMargins(0, 0, 0, 0);
    holder->setLayout(row);
    body->addWidget(holder);
  };

  if (!adapter.name.empty()) addInfoRow(localized("ports.name"), fromUtf8(adapter.name));
  if (!adapter.manufacturer.empty()) addInfoRow(localized("ports.manufacturer"), fromUtf8(adapter.manufacturer));
  // An adapter that reports no rating or contract shows "—" there, never a 0 W it did not give.
  const QString none = QStringLiteral("—");
  addInfoRow(localized("ports.rated"), adapter.watts > 0 ? integerText(adapter.watts) + " W" : none);
  addInfoRow(localized("ports.negotiated"), adapter.voltage > 0 && adapter.current > 0
                                                ? QStringLiteral("%1 V / %2 A (max %3 W)")
                                                      .arg(fixedText(adapter.voltage, 0), fixedText(adapter.current, 2),
                                                           fixedText(adapter.voltage * adapter.current, 0))
                                                : none);
  if (adapter.systemPowerW > 0) {
    addInfoRow(localized("ports.actual"), QStringLiteral("%1 W (%2 V × %3 A)")
                               .arg(fixedText(adapter.systemPowerW, 1), fixedText(adapter.actualVoltage, 1),
                                    fixedText(adapter.actualCurrent, 2)));
  }
  if (!adapter.serial.empty()) addInfoRow(localized("ports.serial"), fromUtf8(adapter.serial));
  if (!adapter.description.empty()) addInfoRow(localized("ports.description"), fromUtf8(adapter.description));

  if (adapter.pdMenu.empty()) return;
  body->addWidget(makeDivider());
  QLabel* pdTitle = makeLabel(localized("ports.pdNegotiation"), subheadlineFont(bodyFont), "pdTitle");
  makeSecondary(pdTitle);
  body->addWidget(pdTitle);
  for (const PDO& pdo : adapter.pdMenu) {
    auto* holder = new QWidget;
    holder->setObjectName("pdoRow");
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kColumnSpacing);
    QLabel* label = makeLabel(localized("ports.pdo").arg(integerText(pdo.index)), mono, "pdoLabel");
    label->setFixedWidth(kPdoLabelWidth);
    QLabel* volts = makeLabel(fixedText(pdo.maxVoltage, 0) + " V", mono, "pdoVoltage");
    volts->setFixedWidth(kPdoVoltageWidth);
    volts->setAlignment(Qt::AlignCenter);
    QLabel* amps = makeLabel(fixedText(pdo.maxCurrent, 2) + " A", mono, "pdoCurrent");
    amps->setFixedWidth(kPdoCurrentWidth);
    amps->setAlignment(Qt::AlignCenter);
    QLabel* watts = makeLabel(fixedText(pdo.maxVoltage * pdo.maxCurrent, 0) + " W", mono, "pdoPower");
    makeSecondary(watts);
    holder->setAccessibleName(QStringLiteral("%1: %2, %3, %4").arg(label->text(), volts->text(), amps->text(), watts->text()));
    row->addWidget(label);
    row->addWidget(volts);
    row->addWidget(amps);
    row->addWidget(watts);
    if (pdo.index == adapter.activeHvcIndex) {
      QLabel* marker = makeLabel(QStringLiteral("\u25C0"), mono, "activePdoMarker");
      QPalette palette = marker->palette();
      palette.setColor(QPalette::WindowText, app::colours::kMarkerBlue);
      marker->setPalette(palette);
      row->addWidget(marker);
    }
    row->addStretch(1);
    body->addWidget(holder);
  }
}

template <class Device, class Fields>
void PortsView::addDeviceRows(QVBoxLayout* body, const std::vector<Device>& devices, Fields fields) {
  const QFont bodyFont = font();
  for (const Device& device : devices) {
    const auto [name, vendor, speed] = fields(device);
    auto* holder = new QWidget;
    holder->setObjectName("deviceRow");
    holder->setAccessibleName(fromUtf8(name));
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    auto* names = new QVBoxLayout;
    names->setSpacing(kNameVendorSpacing);
    names->addWidget(makeLabel(fromUtf8(name), weighted(bodyFont, QFont::Medium), "deviceName"));
    if (!vendor.empty()) {
      QLabel* vendorLabel = makeLabel(fromUtf8(vendor), captionFont(bodyFont), "deviceVendor");
      makeSecondary(vendorLabel);
      names->addWidget(vendorLabel);
    }
    row->addLayout(names);
    row->addStretch(1);
    row->addWidget(makeLabel(fromUtf8(speed), captionFont(bodyFont), "deviceSpeed"), 0, Qt::AlignVCenter);
    body->addWidget(holder);
    if (device.id != devices.back().id) body->addWidget(makeDivider());
  }
}

void PortsView::fillThunderbolt(QVBoxLayout* body) {
  body->addWidget(makeLabel(localized("ports.thunderbolt"), headlineFont(font()), "thunderboltTitle"));
  addDeviceRows(body, model_->readings().tbPorts, [](const TBPort& port) {
    return std::tie(port.deviceName, port.vendorName, port.speed);
  });
}

void PortsView::fillUsb(QVBoxLayout* body) {
  body->addWidget(makeLabel(localized("ports.usb"), headlineFont(font()), "usbTitle"));
  addDeviceRows(body, model_->readings().usbDevices, [](const USBDevice& device) {
    return std::tie(device.name, device.vendor, device.speed);
  });
}

void PortsView::showEvent(QShowEvent* event) {
  QScrollArea::showEvent(event);
  model_->start();
}

void PortsView::hideEvent(QHideEvent* event) {
  model_->stop();
  QScrollArea::hideEvent(event);
}

void PortsView::closeEvent(QCloseEvent* event) {
  model_->stop();
  QScrollArea::closeEvent(event);
}

}  // namespace calorim::ports
