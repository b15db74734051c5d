#include "app/ports/ports_view.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/platform/fake/fake_platform.h"
#include "core/platform/linux/linux_platform.h"

void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace calorim::ports {
namespace {

const std::filesystem::path kMachines = std::filesystem::path(FIXTURE_DIR) / "linux";

// The bound only ends a hung run; nothing is timed.
bool settled(PortsView& view) { return QTest::qWaitFor([&] { return !view.model().isRefreshing(); }, 20000); }

QStringList texts(const QWidget* parent, const char* name) {
  QStringList out;
  for (const QLabel* label : parent->findChildren<QLabel*>(name)) out << label->text();
  return out;
}

// Object names of a section's stack, top to bottom.
QStringList stack(const PortsView& view, const QString& section) {
  QStringList names;
  const QLayout* body = view.findChild<QWidget*>(section + "Body")->layout();
  for (int i = 0; i < body->count(); ++i) names << body->itemAt(i)->widget()->objectName();
  return names;
}

bool shown(const PortsView& view, const char* name) {
  const auto* widget = view.findChild<QWidget*>(name);
  return widget != nullptr && widget->isVisibleTo(&view);
}

void saveScreenshot(PortsView& view, const QString& file) {
  ASSERT_TRUE(QDir().mkpath(SCREENSHOT_DIR));
  EXPECT_TRUE(view.grab().save(QDir(SCREENSHOT_DIR).filePath(file)));
}

RegistryValue pdo(std::int64_t index, std::int64_t mv, std::int64_t ma) {
  return RegistryDictionary{{"Index", index}, {"MaxVoltage", mv}, {"MaxCurrent", ma}};
}

RegistryDictionary usbDevice(const char* name, std::int64_t speed) {
  return RegistryDictionary{{"USB Product Name", name}, {"UsbLinkSpeed", speed}};
}

TEST(PortsView, EmptyDesktopAndLaptopWithDockAndCharger) {
  PortsView desktop(sysfs::makeLinuxPlatform(kMachines / "desktop"));
  desktop.resize(400, 400);
  desktop.show();
  EXPECT_FALSE(shown(desktop, "emptyStateLabel"));  // no "nothing connected" before the first reading
  ASSERT_TRUE(settled(desktop));
  EXPECT_TRUE(shown(desktop, "emptyStateLabel"));
  EXPECT_EQ(texts(&desktop, "emptyStateLabel"), QStringList({"No external connections detected"}));
  EXPECT_FALSE(shown(desktop, "adapterSection") || shown(desktop, "thunderboltSection") || shown(desktop, "usbSection"));
  saveScreenshot(desktop, "ports_desktop_empty.png");

  PortsView laptop(sysfs::makeLinuxPlatform(kMachines / "laptop"));
  laptop.resize(400, 400);
  laptop.show();
  ASSERT_TRUE(settled(laptop));
  EXPECT_TRUE(shown(laptop, "adapterSection") && shown(laptop, "thunderboltSection") && shown(laptop, "usbSection"));
  EXPECT_FALSE(shown(laptop, "emptyStateLabel"));
  // The new rows are laid out as they are published, never squeezed into the
  // page's previous size.
  EXPECT_GE(laptop.widget()->height(), laptop.widget()->minimumSizeHint().height());
  saveScreenshot(laptop, "ports_laptop_400x400.png");

  laptop.resize(400, laptop.widget()->sizeHint().height());  // the whole page in one picture
  QCoreApplication::processEvents();                          // the scroll area settles its bars
  for (const QLabel* label : laptop.findChildren<QLabel*>()) {  // fixed columns cut nothing off
    if (!label->isVisibleTo(&laptop) || label->wordWrap()) continue;
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
  }
  saveScreenshot(laptop, "ports_laptop.png");
}

TEST(PortsView, AdapterRowsAndOffersFollowTheirConditionsInTheCLocale) {
  fake::FakeMachine machine;
  machine.registry->addService("AppleSmartBattery", RegistryDictionary{{"AdapterDetails", RegistryDictionary{{"Foo", 1}}}});
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  PortsView view(machine.platform);
  view.show();
  ASSERT_TRUE(settled(view));

  // Only unrelated keys: the section stays, with zeros and an empty description.
  ASSERT_TRUE(shown(view, "adapterSection"));
  EXPECT_FALSE(shown(view, "emptyStateLabel"));
  EXPECT_EQ(texts(&view, "infoLabel"), QStringList({"Rated", "Negotiated", "Description"}));
  EXPECT_EQ(texts(&view, "infoValue"), QStringList({"0W", "0V / 0.00A (max 0W)", ""}));
  EXPECT_TRUE(texts(&view, "adapterInputPower").isEmpty());
  EXPECT_TRUE(texts(&view, "pdTitle").isEmpty());

  machine.registry->clear();
  machine.registry->addService(
      "AppleSmartBattery",
      RegistryDictionary{
          {"AdapterDetails",
           RegistryDictionary{{"Name", "96W USB-C Power Adapter"}, {"Manufacturer", "Apple Inc."}, {"Watts", 96},
                              {"AdapterVoltage", 20000}, {"Current", 4700}, {"SerialString", "C0X123"},
                              {"Description", "pd charger"}, {"UsbHvcMenu", RegistryArray{pdo(1, 9000, 3000)}}}},
          // 45.25 W is a tie, which printf rounds to even.
          {"PowerTelemetryData",
           RegistryDictionary{{"SystemPowerIn", 45250}, {"SystemVoltageIn", 20100}, {"SystemCurrentIn", 2251}}}});
  view.model().refresh();
  ASSERT_TRUE(settled(view));
  EXPECT_EQ(texts(&view, "infoLabel"),
            QStringList({"Name", "Manufacturer", "Rated", "Negotiated", "Actual", "Serial", "Description"}));
  EXPECT_EQ(texts(&view, "infoValue"),
            QStringList({"96W USB-C Power Adapter", "Apple Inc.", "96W", "20V / 4.70A (max 94W)",
                         "45.2 W (20.1V × 2.25A)", "C0X123", "pd charger"}));
  EXPECT_EQ(texts(&view, "adapterInputPower"), QStringList({"45.2 W in"}));
  EXPECT_EQ(texts(&view, "pdoVoltage") + texts(&view, "pdoCurrent") + texts(&view, "pdoPower"),
            QStringList({"9V", "3.00A", "27W"}));
  EXPECT_TRUE(texts(&view, "activePdoMarker").isEmpty());  // no active index

  // The active-offer marker sits on exactly the rows of the active index.
  machine.registry->clear();
  machine.registry->addService(
      "AppleSmartBattery",
      RegistryDictionary{{"AdapterDetails",
                          RegistryDictionary{{"UsbHvcHvcIndex", 2},
                                             {"UsbHvcMenu", RegistryArray{pdo(0, 5000, 3000), pdo(1, 9000, 3000),
                                                                          pdo(2, 15000, 3000), pdo(2, 20000, 4700)}}}}});
  view.model().refresh();
  ASSERT_TRUE(settled(view));
  QList<bool> marked;
  for (const QWidget* row : view.findChildren<QWidget*>("pdoRow")) {
    marked << (row->findChild<QLabel*>("activePdoMarker") != nullptr);
  }
  EXPECT_EQ(marked, QList<bool>({false, false, true, true}));
  EXPECT_EQ(texts(&view, "pdoPower"), QStringList({"15W", "27W", "45W", "94W"}));

  QLocale::setDefault(before);
}

TEST(PortsView, DividersSeparateRowsButNoneFollowsTheLast) {
  fake::FakeMachine machine;
  machine.hardwareReport->setReport("SPThunderboltDataType", R"({"SPThunderboltDataType":[{"_items":[
      {"device_name_key":"Dock","vendor_name_key":"CalDigit","mode_key":"USB4"}]}]})");
  // Three devices of one name: only their ids tell the last one apart.
  for (int i = 0; i < 3; ++i) machine.registry->addService("IOUSBHostDevice", usbDevice("Hub", 480'000'000));
  PortsView view(machine.platform);
  view.show();
  ASSERT_TRUE(settled(view));

  EXPECT_EQ(stack(view, "thunderboltSection"), QStringList({"thunderboltTitle", "deviceRow"}));
  EXPECT_EQ(stack(view, "usbSection"),
            QStringList({"usbTitle", "deviceRow", "divider", "deviceRow", "divider", "deviceRow"}));
  EXPECT_EQ(texts(&view, "deviceVendor"), QStringList({"CalDigit"}));  // no line for an empty vendor
  EXPECT_FALSE(shown(view, "adapterSection") || shown(view, "emptyStateLabel"));
}

TEST(PortsView, RefreshRebuildsOnlyWhatChangedAndKeepsTheScrollPosition) {
  fake::FakeMachine machine;
  machine.registry->addService("AppleSmartBattery",
                               RegistryDictionary{{"AdapterDetails", RegistryDictionary{{"Watts", 60}}}});
  machine.hardwareReport->setReport("SPThunderboltDataType", R"({"SPThunderboltDataType":[{"_items":[
      {"device_name_key":"Dock"},{"device_name_key":"Drive"},{"device_name_key":"Display"}]}]})");
  for (const char* name : {"Keyboard", "Mouse", "Camera", "Headset", "Stick"}) {
    machine.registry->addService("IOUSBHostDevice", usbDevice(name, 12'000'000));
  }
  PortsView view(machine.platform);
  view.resize(380, 300);
  view.show();
  ASSERT_TRUE(settled(view));
  QScrollBar* scroll = view.verticalScrollBar();
  ASSERT_GT(scroll->maximum(), 0);
  scroll->setValue(scroll->maximum());
  const int position = scroll->value();
  const QPointer<QLabel> adapterTitle = view.findChild<QLabel*>("adapterTitle");
  const QPointer<QLabel> tbTitle = view.findChild<QLabel*>("thunderboltTitle");
  const QPointer<QLabel> usbTitle = view.findChild<QLabel*>("usbTitle");

  view.model().refresh();  // the same devices, with new ids: nothing is rebuilt
  ASSERT_TRUE(settled(view));
  EXPECT_TRUE(adapterTitle && tbTitle && usbTitle);

  machine.registry->addService("IOUSBHostDevice", usbDevice("Dongle", 5'000'000'000));
  view.model().refresh();
  ASSERT_TRUE(settled(view));
  EXPECT_TRUE(adapterTitle && tbTitle);
  EXPECT_FALSE(usbTitle);
  EXPECT_EQ(texts(&view, "deviceName").last(), "Dongle");
  EXPECT_EQ(scroll->value(), position);
}

TEST(PortsView, ModelRefreshesEveryThreeSecondsOnlyWhileShown) {
  fake::FakeMachine machine;
  PortsView view(machine.platform);
  const auto* timer = view.findChild<QTimer*>("refreshTimer");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 3000);
  EXPECT_FALSE(timer->isActive());
  QSignalSpy refreshes(&view.model(), &PortsModel::changed);

  view.show();
  EXPECT_TRUE(timer->isActive());
  EXPECT_TRUE(view.model().isRefreshing());  // showing refreshes at once
  ASSERT_TRUE(settled(view));
  EXPECT_EQ(refreshes.count(), 1);

  view.hide();
  EXPECT_FALSE(timer->isActive());
  view.show();
  EXPECT_TRUE(timer->isActive());
  ASSERT_TRUE(settled(view));
  EXPECT_EQ(refreshes.count(), 2);

  view.close();
  EXPECT_FALSE(timer->isActive());
}

}  // namespace
}  // namespace calorim::ports
