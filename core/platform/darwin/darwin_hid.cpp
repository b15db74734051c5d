// The HID sensors port over the HID event system: a client matched on a usage
// page and usage, each service's "Product" and its current temperature event.

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/hidsystem/IOHIDEventSystemClient.h>
#include <IOKit/hidsystem/IOHIDServiceClient.h>

#include <cstdint>

#include "core/platform/darwin/cf_values.h"
#include "core/platform/darwin/darwin_platform.h"
#include "core/platform/darwin/handles.h"

// Exported by IOKit but declared in no public header.
extern "C" {
typedef struct __IOHIDEvent* IOHIDEventRef;
IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(CFAllocatorRef allocator);
int IOHIDEventSystemClientSetMatching(IOHIDEventSystemClientRef client, CFDictionaryRef matching);
IOHIDEventRef IOHIDServiceClientCopyEvent(IOHIDServiceClientRef service, int64_t type, int32_t options,
                                          int64_t timestamp);
double IOHIDEventGetFloatValue(IOHIDEventRef event, int32_t field);
}

namespace calorim::darwin {
namespace {

constexpr int64_t kTemperatureEvent = 15;
constexpr int32_t kTemperatureLevel = kTemperatureEvent << 16;

CfRef<CFNumberRef> makeCfNumber(std::uint32_t value) {
  const int64_t wide = value;
  return CfRef<CFNumberRef>(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &wide));
}

class EventSystemClient final : public HidClient {
 public:
  explicit EventSystemClient(IOHIDEventSystemClientRef client) : client_(client) {}

  void setMatching(std::uint32_t primaryUsagePage, std::uint32_t primaryUsage) override {
    const CfRef<CFNumberRef> page = makeCfNumber(primaryUsagePage);
    const CfRef<CFNumberRef> usage = makeCfNumber(primaryUsage);
    if (!page || !usage) return;
    const void* keys[] = {CFSTR("PrimaryUsagePage"), CFSTR("PrimaryUsage")};
    const void* values[] = {page.get(), usage.get()};
    const CfRef<CFDictionaryRef> matching(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 2,
                                                             &kCFTypeDictionaryKeyCallBacks,
                                                             &kCFTypeDictionaryValueCallBacks));
    if (matching) IOHIDEventSystemClientSetMatching(client_.get(), matching.get());
  }

  std::optional<std::vector<HidSensor>> copyServices() override {
    const CfRef<CFArrayRef> services(IOHIDEventSystemClientCopyServices(client_.get()));
    if (!services) return std::nullopt;
    std::vector<HidSensor> sensors;
    const CFIndex count = CFArrayGetCount(services.get());
    for (CFIndex i = 0; i < count; ++i) {
      auto service = static_cast<IOHIDServiceClientRef>(const_cast<void*>(CFArrayGetValueAtIndex(services.get(), i)));
      if (service == nullptr) continue;
      HidSensor sensor;
      const CfRef<CFTypeRef> product(IOHIDServiceClientCopyProperty(service, CFSTR("Product")));
      sensor.product = cfText(product.get());
      const CfRef<IOHIDEventRef> event(IOHIDServiceClientCopyEvent(service, kTemperatureEvent, 0, 0));
      if (event) sensor.temperature = IOHIDEventGetFloatValue(event.get(), kTemperatureLevel);
      sensors.push_back(std::move(sensor));
    }
    return sensors;
  }

 private:
  CfRef<IOHIDEventSystemClientRef> client_;
};

class EventSystem final : public HidPort {
 public:
  std::unique_ptr<HidClient> createClient() override {
    IOHIDEventSystemClientRef client = IOHIDEventSystemClientCreate(kCFAllocatorDefault);
    if (client == nullptr) return nullptr;
    return std::make_unique<EventSystemClient>(client);
  }
};

}  // namespace

std::unique_ptr<HidPort> makeHid() { return std::make_unique<EventSystem>(); }

}  // namespace calorim::darwin
