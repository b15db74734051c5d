#include "app/ports/port_readers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <QCoreApplication>
#include <QTest>
#include <QThreadPool>

#include "app/ports/ports_model.h"
#include "core/platform/fake/fake_platform.h"

namespace calorim::ports {
namespace {

using namespace std::chrono_literals;

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
  EXPECT_EQ(rows, (std::vector<std::string>{"Keyboard|Acme|12 Mbps (USB 1.1)", "Hub||Unknown", "USB2.0 Hub||Unknown"}));

  const std::vector<USBDevice> again = readUSBDevices(registry);
  EXPECT_EQ(again[0].name, devices[0].name);
  EXPECT_NE(again[0].id, devices[0].id);
  EXPECT_NE(devices[0].id, devices[1].id);

  EXPECT_EQ(usbSpeedWords(5'000'000'000), "5 Gbps (USB 3.0)");
  EXPECT_EQ(usbSpeedWords(1'500'000), "1.5 Mbps (USB 1.0)");
  EXPECT_EQ(usbSpeedWords(1'500'000'000), "1500 Mbps");
  EXPECT_EQ(usbSpeedWords(40'000'000'000), "40000 Mbps");
  EXPECT_EQ(usbSpeedWords(999'999), "0 Mbps");
  EXPECT_EQ(usbSpeedWords(0), "Unknown");
  EXPECT_EQ(usbSpeedWords(-5), "Unknown");
  EXPECT_EQ(usbSpeedWords(std::nullopt), "Unknown");
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
  const RegistryValue offer = RegistryDictionary{{"Index", 0}, {"MaxVoltage", 5000}, {"MaxCurrent", 3000}};
  registry.clear();
  registry.addService("AppleSmartBattery",
                      RegistryDictionary{
                          {"AdapterDetails",
                           RegistryDictionary{{"Watts", "96"}, {"UsbHvcMenu", RegistryArray{offer, 7}}}},
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

}  // namespace
}  // namespace calorim::ports
