#include "app/ports/ports_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/platform/fake/fake_platform.h"
#include "core/platform/linux/linux_platform.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/golden.h"

namespace calorim::ports {
namespace {

using app::testing::saveScreenshot;

const std::filesystem::path kMachines = std::filesystem::path(FIXTURE_DIR) / "linux";

// The bound only ends a hung run; nothing is timed.
bool settled(PortsView& view) { return QTest::qWaitFor([&] { return !view.model().isRefreshing(); }, 20000); }

void expectPage(const PortsView& view, const std::string& golden) {
  testing::expectGolden(std::filesystem::path(GOLDEN_DIR) / golden, app::testing::widgetTree(&view).toStdString());
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
  // No "nothing connected" before the first reading.
  EXPECT_FALSE(desktop.findChild<QWidget*>("emptyStateLabel")->isVisibleTo(&desktop));
  ASSERT_TRUE(settled(desktop));
  expectPage(desktop, "ports_desktop.txt");
  EXPECT_TRUE(saveScreenshot(desktop.grab(), "ports_desktop_empty.png"));

  PortsView laptop(sysfs::makeLinuxPlatform(kMachines / "laptop"));
  laptop.resize(400, 400);
  laptop.show();
  ASSERT_TRUE(settled(laptop));
  expectPage(laptop, "ports_laptop.txt");
  // The new rows are laid out as they are published, never squeezed into the
  // page's previous size.
  EXPECT_GE(laptop.widget()->height(), laptop.widget()->minimumSizeHint().height());
  EXPECT_TRUE(saveScreenshot(laptop.grab(), "ports_laptop_400x400.png"));

  laptop.resize(400, laptop.widget()->sizeHint().height());  // the whole page in one picture
  QCoreApplication::processEvents();                          // the scroll area settles its bars
  for (const QLabel* label : laptop.findChildren<QLabel*>()) {  // fixed columns cut nothing off
    if (!label->isVisibleTo(&laptop) || label->wordWrap()) continue;
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
  }
  EXPECT_TRUE(saveScreenshot(laptop.grab(), "ports_laptop.png"));
}

// Adapter rows and offers follow their conditions, the numbers in the C
// locale whatever the user's; rows are divided, the last one not.
TEST(PortsView, PageOfEachMachineInTheCLocale) {
  const auto adapter = [](RegistryDictionary details, RegistryDictionary telemetry = {}) {
    return [=](fake::FakeMachine& machine) {
      machine.registry->addService("AppleSmartBattery",
                                   RegistryDictionary{{"AdapterDetails", details}, {"PowerTelemetryData", telemetry}});
    };
  };
  const std::vector<std::pair<std::string, std::function<void(fake::FakeMachine&)>>> cases{
      // Only unrelated keys: the section stays, with zeros and an empty description.
      {"ports_adapter_bare.txt", adapter({{"Foo", 1}})},
      // 45.25 W is a tie, which printf rounds to even; no active index, no marker.
      {"ports_adapter_full.txt",
       adapter({{"Name", "96W USB-C Power Adapter"}, {"Manufacturer", "Apple Inc."}, {"Watts", 96},
                {"AdapterVoltage", 20000}, {"Current", 4700}, {"SerialString", "C0X123"},
                {"Description", "pd charger"}, {"UsbHvcMenu", RegistryArray{pdo(1, 9000, 3000)}}},
               {{"SystemPowerIn", 45250}, {"SystemVoltageIn", 20100}, {"SystemCurrentIn", 2251}})},
      // The active-offer marker sits on exactly the rows of the active index.
      {"ports_adapter_active_offer.txt",
       adapter({{"UsbHvcHvcIndex", 2},
                {"UsbHvcMenu",
                 RegistryArray{pdo(0, 5000, 3000), pdo(1, 9000, 3000), pdo(2, 15000, 3000), pdo(2, 20000, 4700)}}})},
      // Three devices of one name: only their ids tell the last one apart.
      {"ports_dock_and_hubs.txt",
       [](fake::FakeMachine& machine) {
         machine.hardwareReport->setReport("SPThunderboltDataType", R"({"SPThunderboltDataType":[{"_items":[
             {"device_name_key":"Dock","vendor_name_key":"CalDigit","mode_key":"USB4"}]}]})");
         for (int i = 0; i < 3; ++i) machine.registry->addService("IOUSBHostDevice", usbDevice("Hub", 480'000'000));
       }},
  };
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  for (const auto& [golden, setUp] : cases) {
    fake::FakeMachine machine;
    setUp(machine);
    PortsView view(machine.platform);
    view.show();
    ASSERT_TRUE(settled(view));
    expectPage(view, golden);
  }
  QLocale::setDefault(before);
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
  EXPECT_EQ(view.findChildren<QLabel*>("deviceName").last()->text().toStdString(), "Dongle");
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
