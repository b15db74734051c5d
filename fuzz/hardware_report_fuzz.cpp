// Hardware reports as the system's reporting tool writes them: the machine
// name must come out of any text, or the "Unknown Mac" default, without a
// crash or a leak.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/platform/fake/fake_platform.h"
#include "core/system_info.h"
#include "core/base/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  calorim::fake::FakeHardwareReport reports;
  reports.setReport("SPHardwareDataType", std::string(reinterpret_cast<const char*>(data), size));
  const std::string name = calorim::machineName(reports);
  if (!calorim::isValidUtf8(name)) std::abort();  // it is shown and sent as JSON text
  return 0;
}
