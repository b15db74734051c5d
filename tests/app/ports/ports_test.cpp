// The ports window: its readers on fake registries and reports, its model's
// refresh off the UI thread, and its pages as golden text pictures with
// screenshots.

#include "app/ports/ports_view.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>

#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include "app/ports/port_readers.h"
#include "app/ports/ports_model.h"
#include "core/platform/fake/fake_platform.h"
#include "core/platform/linux/linux_platform.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/golden.h"

namespace calorim::ports {
namespace {

using app::testing::saveScreenshot;
using namespace std::chrono_literals;

const std::filesystem::path kMachines = std::filesystem::path(FIXTURE_DIR) / "linux";

// The bound only ends a hung run; nothing is timed.
bool settled(PortsView& view) { return QTest::qWaitFor([&] { return !view.model().isRefreshing(); }, 20000); }

void expectPage(const PortsView& view, const std::string& golden) {
  EXPECT_GOLDEN(std::filesystem::path(GOLDEN_DIR) / golden, app::testing::widgetTree(&view).toStdString());
}

RegistryValue pdo(std::int64_t index, std::int64_t mv, std::int64_t ma) {
  return RegistryDictionary{{"Index", index}, {"MaxVoltage", mv}, {"MaxCurrent", ma}};
}

RegistryDictionary usbDevice(const char* name, std::int64_t speed) {
  return RegistryDictionary{{"USB Product Name", name}, {"UsbLinkSpeed", speed}};
}

TEST(ReadUSBDevices, NamesHubsVendorsAndSpeeds) {
  fake::FakeRegistry registry;
  registry.addService("IOUSBHostDevice", RegistryDictionary{{"kUSBProductString", "Keyboard"},
                                                            {"kUSBVendorString", "Acme"},
                                                            {"UsbLinkSpeed", std::int64_t{12'000'000}}});
  registry.addService("IOUSBHostDevice",
                      RegistryDictionary{{"USB Product Name", ""}, {"kUSBProductString", "Shadowed"}});
  registry.addService("IOUSBHostDevice", RegistryDictionary{{"USB Product Name", "XHCI Host Controller"}});
  registry.addService("IOUSBHostDevice", RegistryDictionary{{"USB Product Name", "USB3.0 ROOT HUB"}});
  registry.addService("IOUSBHostDevice", RegistryDictionary{{"USB Product Name", 5}, {"kUSBProductString", "Hub"},
                                                            {"USB Product Name2", "x"}});
  registry.addService("IOUSBHostDevice", RegistryDictionary{{"USB Product Name", "USB2.0 Hub"},
                                                            {"kUSBVendorString", 7},
                                                            {"UsbLinkSpeed", "480000000"}});
  registry.addService("IOUSBHostDevice", std::nullopt);

  const std::vector<USBDevice> devices = readUSBDevices(registry);
  std::vector<std::string> rows;
  for (const USBDevice& device : devices) rows.push_back(device.name + "|" + device.vendor + "|" + device.speed);
  // Text is not a speed.
  EXPECT_EQ(rows, (std::vector<std::string>{"Keyboard|Acme|12 Mb/s (USB 1.1)", "Hub||Unknown", "USB2.0 Hub||Unknown"}));

  const std::vector<USBDevice> again = readUSBDevices(registry);
  EXPECT_EQ(again[0].name, devices[0].name);
  EXPECT_NE(again[0].id, devices[0].id);
  EXPECT_NE(devices[0].id, devices[1].id);

  const std::vector<std::pair<std::optional<std::int64_t>, std::string>> speeds{
      {5'000'000'000, "5 Gb/s (USB 3.0)"}, {1'500'000, "1.5 Mb/s (USB 1.0)"}, {1'500'000'000, "1500 Mb/s"},
      {40'000'000'000, "40000 Mb/s"}, {999'999, "0 Mb/s"}, {0, "Unknown"}, {-5, "Unknown"}, {std::nullopt, "Unknown"}};
  for (const auto& [bitsPerSecond, words] : speeds) EXPECT_EQ(usbSpeedWords(bitsPerSecond), words);
}

TEST(ReadThunderboltPorts, BusesDevicesAndSpeedFallbacks) {
  const std::vector<TBPort> ports = parseThunderboltReport(R"({"SPThunderboltDataType":[
    {"_name":"thunderboltusb4_bus_0","_items":[
      {"device_name_key":"MacBook Pro","vendor_name_key":"Apple Inc."},
      {"device_name_key":"Dock","vendor_name_key":"CalDigit","mode_key":"USB4",
       "receptacle_upstream_ambiguous_tag":{"current_speed_key":"Up to 40 Gb/s"}},
      {"vendor_name_key":"Nameless","mode_key":"Thunderbolt 3",
       "receptacle_upstream_tag":{"current_speed_key":""}},
      {"device_name_key":"Mac mini","receptacle_upstream_x":{},"upstream_receptacle":{"current_speed_key":5}},
      {"device_name_key":"Drive","_items":[{"device_name_key":"Nested"}]}]},
    {"_name":"empty bus"},
    {"_name":"odd","_items":{"device_name_key":"not an array"}}]})");
  std::vector<std::string> rows;
  for (const TBPort& port : ports) rows.push_back(port.deviceName + "|" + port.vendorName + "|" + port.speed);
  // An empty speed falls back to the mode; other computers are listed.
  EXPECT_EQ(rows, (std::vector<std::string>{"Dock|CalDigit|Up to 40 Gb/s", "Unknown|Nameless|Thunderbolt 3",
                                            "Mac mini||", "Drive||"}));

  const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
  const std::string device = R"({"SPThunderboltDataType":[{"_items":[{"device_name_key":"Drive"}]}]})";
  for (const std::string& report :
       {std::string(), std::string("[]"), std::string("not json"), std::string(R"({"SPThunderboltDataType":[]})"),
        std::string(R"({"SPThunderboltDataType":[{}]})"), std::string(R"({"SPThunderboltDataType":[1]})"),
        std::string(R"({"SPThunderboltDataType":{"_items":[]}})"),
        R"({"SPThunderboltDataType":[{"_items":[{"device_name_key":"Drive","x":)" + deep + "}]}]}",
        device + std::string(1, '\0') + "x", device + " []"}) {
    EXPECT_TRUE(parseThunderboltReport(report).empty()) << report;
  }
  fake::FakeHardwareReport none;
  EXPECT_TRUE(readThunderboltPorts(none).empty());
}

// Every field in its unit is on the ports view's pages; here what is missing
// or of the wrong type.
TEST(ReadAdapterInfo, FieldsOffersTelemetryAndDefaults) {
  fake::FakeRegistry registry;
  EXPECT_FALSE(readAdapterInfo(registry));  // a desktop: no battery controller
  registry.addService("AppleSmartBattery", RegistryDictionary{{"CurrentCapacity", 80}});
  EXPECT_FALSE(readAdapterInfo(registry));  // on battery: no adapter description

  registry.clear();
  registry.addService("AppleSmartBattery", RegistryDictionary{{"AdapterDetails", RegistryDictionary{{"Foo", 1}}}});
  const std::optional<AdapterInfo> bare = readAdapterInfo(registry);
  ASSERT_TRUE(bare);
  EXPECT_EQ(*bare, AdapterInfo{});
  EXPECT_EQ(bare->activeHvcIndex, -1);

  // Text where an integer belongs counts as absent; a menu with a stray entry is dropped.
  registry.clear();
  registry.addService("AppleSmartBattery",
                      RegistryDictionary{
                          {"AdapterDetails",
                           RegistryDictionary{{"Watts", "96"}, {"UsbHvcMenu", RegistryArray{pdo(0, 5000, 3000), 7}}}},
                          {"PowerTelemetryData",
                           RegistryDictionary{{"SystemVoltageIn", 20100}, {"SystemCurrentIn", "2200"}}}});
  const std::optional<AdapterInfo> odd = readAdapterInfo(registry);
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->watts, 0);
  EXPECT_TRUE(odd->pdMenu.empty());
  EXPECT_DOUBLE_EQ(odd->actualVoltage, 20.1);
  EXPECT_EQ(odd->actualCurrent, 0.0);
}

TEST(PortsModel, RefreshReadsOffTheUiThreadAndSkipsWhileOneRuns) {
  fake::FakeMachine machine;
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int reads = 0;
  machine.registry->addLiveService("AppleSmartBattery", [&]() -> std::optional<RegistryDictionary> {
    std::unique_lock lock(mutex);
    ++reads;
    changed.notify_all();
    changed.wait_for(lock, 20s, [&] { return open; });
    return RegistryDictionary{{"AdapterDetails", RegistryDictionary{{"Watts", 30}}}};
  });
  const auto readsReach = [&](int count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 20s, [&] { return reads == count; });
  };
  const auto setOpen = [&](bool value) {
    const std::lock_guard lock(mutex);
    open = value;
    changed.notify_all();
  };

  {
    PortsModel model(machine.platform);  // never started: no timer ticks in between
    model.refresh();
    ASSERT_TRUE(readsReach(1));
    EXPECT_TRUE(model.isRefreshing());  // the reader blocks, the UI thread does not
    model.refresh();                    // skipped
    setOpen(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.isRefreshing(); }, 20000));
    ASSERT_TRUE(model.readings().adapterInfo);
    EXPECT_EQ(model.readings().adapterInfo->watts, 30);
    const std::lock_guard lock(mutex);
    EXPECT_EQ(reads, 1);
  }

  // A model destroyed while its refresh still reads drops the result safely.
  setOpen(false);
  auto model = std::make_unique<PortsModel>(machine.platform);
  model->refresh();
  ASSERT_TRUE(readsReach(2));
  model.reset();
  setOpen(true);
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();
}

TEST(PortsView, EmptyDesktopAndLaptopWithDockAndCharger) {
  PortsView desktop(sysfs::makeLinuxPlatform(kMachines / "desktop"));
  desktop.resize(400, 400);
  desktop.show();
  // No "nothing connected" before the first reading.
  EXPECT_FALSE(app::testing::shown(&desktop, "emptyStateLabel"));
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
      // Only unrelated keys: the section stays, "—" for the rating and contract it did not give.
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
  const auto* timer = app::testing::part<QTimer>(&view, "refreshTimer");
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
