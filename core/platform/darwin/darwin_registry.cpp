// The registry port over the IOKit registry, looked up on the main port.

#include <IOKit/IOKitLib.h>

#include <string>

#include "core/platform/darwin/cf_values.h"
#include "core/platform/darwin/darwin_platform.h"
#include "core/platform/darwin/handles.h"

namespace calorim::darwin {
namespace {

struct IOKitService final : RegistryService {
  explicit IOKitService(io_object_t entry) : object(entry) {}
  IoObject object;
};

class IOKitRegistry final : public RegistryPort {
 public:
  std::vector<std::unique_ptr<RegistryService>> matchingServices(std::string_view className) override {
    std::vector<std::unique_ptr<RegistryService>> services;
    if (className.empty() || className.find('\0') != std::string_view::npos) return services;
    CFMutableDictionaryRef matching = IOServiceMatching(std::string(className).c_str());
    if (matching == nullptr) return services;
    io_iterator_t iterator = IO_OBJECT_NULL;
    // The matching dictionary is consumed, whatever the outcome.
    if (IOServiceGetMatchingServices(kIOMainPortDefault, matching, &iterator) != KERN_SUCCESS) return services;
    const IoObject held(iterator);
    while (io_object_t entry = IOIteratorNext(iterator)) services.push_back(std::make_unique<IOKitService>(entry));
    return services;
  }

  std::optional<RegistryDictionary> properties(const RegistryService& service) override {
    const auto* entry = dynamic_cast<const IOKitService*>(&service);
    if (entry == nullptr) return std::nullopt;
    CFMutableDictionaryRef properties = nullptr;
    if (IORegistryEntryCreateCFProperties(entry->object.get(), &properties, kCFAllocatorDefault, 0) != KERN_SUCCESS) {
      if (properties != nullptr) CFRelease(properties);
      return std::nullopt;
    }
    const CfRef<CFMutableDictionaryRef> held(properties);
    return toRegistryDictionary(held.get());
  }

  std::optional<RegistryValue> property(const RegistryService& service, std::string_view key) override {
    const auto* entry = dynamic_cast<const IOKitService*>(&service);
    if (entry == nullptr) return std::nullopt;
    const CfRef<CFStringRef> name = makeCfString(key);
    if (!name) return std::nullopt;
    const CfRef<CFTypeRef> value(
        IORegistryEntryCreateCFProperty(entry->object.get(), name.get(), kCFAllocatorDefault, 0));
    return toRegistryValue(value.get());
  }
};

}  // namespace

std::unique_ptr<RegistryPort> makeRegistry() { return std::make_unique<IOKitRegistry>(); }

}  // namespace calorim::darwin
