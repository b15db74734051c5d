// calorim-probe-sim: the same MCP server on a simulated machine, for demos and
// tests on machines without energy counters. Its one optional argument is the
// path of a machine profile; without it the built-in laptop profile is used.

#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

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
      std::ifstream file(argv[1], std::ios::binary);
      if (!file) {
        std::cerr << "calorim-probe-sim: cannot read " << argv[1] << "\n";
        return 2;
      }
      std::ostringstream text;
      text << file.rdbuf();
      profile = calorim::fake::loadMachineProfile(text.str());
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
