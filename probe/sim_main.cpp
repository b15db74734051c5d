// calorim-probe-sim: the same MCP server on a simulated machine, for demos and
// tests on machines without energy counters. Its one optional argument is the
// path of a machine profile; without it the built-in laptop profile is used.

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "core/platform/simulated/simulated_machine.h"
#include "probe/calorim_probe.h"

int main(int argc, char** argv) {
  if (argc > 2) {
    std::cerr << "usage: calorim-probe-sim [profile.json]\n";
    return 2;
  }
  std::optional<std::string> path;
  if (argc == 2) path = argv[1];
  auto opened = calorim::fake::openSimulatedPlatform(path);
  if (const auto* failure = std::get_if<calorim::fake::ProfileFailure>(&opened)) {
    if (failure->unreadable) {
      std::cerr << "calorim-probe-sim: cannot read " << argv[1] << "\n";
    } else {
      std::cerr << "calorim-probe-sim: " << path.value_or("built-in profile") << ": " << failure->reason << "\n";
    }
    return 2;
  }
  const std::shared_ptr<calorim::Platform> platform = std::get<std::shared_ptr<calorim::Platform>>(opened);
  return calorim::probe::mcpMain([&] { return platform; });
}
