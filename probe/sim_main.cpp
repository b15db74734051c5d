// calorim-probe-sim: the same MCP server on a simulated machine, for demos and
// tests on machines without energy counters. Its one optional argument is the
// path of a machine profile; without it the built-in laptop profile is used.

#include <iostream>
#include <optional>
#include <stdexcept>
#include <utility>

#include "core/platform/fake/simulated_machine.h"
#include "probe/calorim_probe.h"

int main(int argc, char** argv) {
  if (argc > 2) {
    std::cerr << "usage: calorim-probe-sim [profile.json]\n";
    return 2;
  }
  calorim::fake::MachineProfile profile;
  try {
    if (argc == 2) {
      std::optional<calorim::fake::MachineProfile> read = calorim::fake::loadMachineProfileFile(argv[1]);
      if (!read) {
        std::cerr << "calorim-probe-sim: cannot read " << argv[1] << "\n";
        return 2;
      }
      profile = std::move(*read);
    } else {
      profile = calorim::fake::builtinProfile();
    }
  } catch (const std::invalid_argument& e) {
    std::cerr << "calorim-probe-sim: " << argv[1] << ": " << e.what() << "\n";
    return 2;
  }
  return calorim::probe::mcpMain([&] {
    return calorim::fake::makeSimulatedPlatform(profile, 1, calorim::fake::SimulatedClock::real);
  });
}
