// calorim-probe-sim: the same MCP server on a simulated machine, for demos and
// tests on machines without energy counters. Its one optional argument is the
// path of a machine profile; without it the built-in laptop profile is used.

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/base/command_line.h"
#include "core/platform/simulated/simulated_machine.h"
#include "probe/calorim_probe.h"

namespace {

constexpr std::string_view kProgram = "calorim-probe-sim";

constexpr std::string_view kHelp =
    "usage: calorim-probe-sim [PROFILE]\n"
    "       calorim-probe-sim --help | --version\n"
    "\n"
    "The calorim-probe MCP server on a simulated machine: the built-in laptop, or the machine\n"
    "described by the JSON file PROFILE. Every answer says that the machine is simulated.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the version\n";

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = calorim::cli::parse(std::vector<std::string>(argv + 1, argv + argc), {}, {1, "PROFILE"});
  if (const auto* error = std::get_if<calorim::cli::UsageError>(&parsed)) {
    return calorim::cli::printUsageError(kProgram, *error);
  }
  if (const auto* info = std::get_if<calorim::cli::InfoRequest>(&parsed)) {
    return calorim::cli::printInfo(*info, kProgram, kHelp, CALORIM_VERSION);
  }
  const auto& positional = std::get<calorim::cli::Arguments>(parsed).positional;
  std::optional<std::string> path;
  if (!positional.empty()) path = positional.front();
  auto opened = calorim::fake::openSimulatedPlatform(path);
  if (const auto* failure = std::get_if<calorim::fake::ProfileFailure>(&opened)) {
    std::cerr << kProgram << ": " << calorim::fake::profileFailureText(*failure, path) << "\n";
    return 1;
  }
  const std::shared_ptr<calorim::Platform> platform = std::get<std::shared_ptr<calorim::Platform>>(opened);
  return calorim::probe::mcpMain([&] { return platform; });
}
