// The SMC port over the AppleSMC user client: one struct-method call that
// exchanges the 80-byte parameter block of smc_port.h.

#include <IOKit/IOKitLib.h>
#include <mach/mach.h>

#include "core/platform/darwin/darwin_platform.h"
#include "core/platform/darwin/handles.h"

namespace calorim::darwin {
namespace {

class AppleSmcConnection final : public SmcConnection {
 public:
  explicit AppleSmcConnection(io_connect_t connection) : connection_(connection) {}
  AppleSmcConnection(const AppleSmcConnection&) = delete;
  AppleSmcConnection& operator=(const AppleSmcConnection&) = delete;
  ~AppleSmcConnection() override { IOServiceClose(connection_); }

  std::optional<SmcParamBlock> call(std::uint32_t selector, const SmcParamBlock& input) override {
    SmcParamBlock output{};
    size_t outputSize = output.size();
    if (IOConnectCallStructMethod(connection_, selector, input.data(), input.size(), output.data(), &outputSize) !=
        kIOReturnSuccess) {
      return std::nullopt;
    }
    return output;
  }

 private:
  io_connect_t connection_;
};

class AppleSmc final : public SmcPort {
 public:
  std::unique_ptr<SmcConnection> open() override {
    CFMutableDictionaryRef matching = IOServiceMatching("AppleSMC");
    if (matching == nullptr) return nullptr;
    const IoObject service(IOServiceGetMatchingService(kIOMainPortDefault, matching));
    if (!service) return nullptr;
    io_connect_t connection = IO_OBJECT_NULL;
    if (IOServiceOpen(service.get(), mach_task_self(), 0, &connection) != kIOReturnSuccess) return nullptr;
    return std::make_unique<AppleSmcConnection>(connection);
  }
};

}  // namespace

std::unique_ptr<SmcPort> makeSmc() { return std::make_unique<AppleSmc>(); }

}  // namespace calorim::darwin
