// Thunderbolt / USB4 reports as the system's reporting tool writes them: any
// text must give a list without a crash, an exception or a leak. Every device
// listed has a fresh id, is not the host computer, and carries well-formed
// UTF-8, since its texts are shown as they are.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/ports/port_readers.h"
#include "core/platform/fake/fake_platform.h"
#include "core/base/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view report(reinterpret_cast<const char*>(data), size);
  const std::vector<calorim::ports::TBPort> ports = calorim::ports::parseThunderboltReport(report);

  std::set<QUuid> ids;
  for (const calorim::ports::TBPort& port : ports) {
    if (port.id.isNull() || !ids.insert(port.id).second) std::abort();
    if (port.deviceName == "MacBook Pro") std::abort();
    if (!calorim::isValidUtf8(port.deviceName) || !calorim::isValidUtf8(port.vendorName) ||
        !calorim::isValidUtf8(port.speed)) {
      std::abort();
    }
  }

  // Through the port the reader must see the same devices.
  calorim::fake::FakeHardwareReport reports;
  reports.setReport("SPThunderboltDataType", std::string(report));
  if (calorim::ports::readThunderboltPorts(reports).size() != ports.size()) std::abort();
  return 0;
}
