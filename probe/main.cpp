// calorim-probe: the MCP server measuring the machine it runs on.

#include <string>
#include <variant>
#include <vector>

#include "core/base/command_line.h"
#include "core/platform/native/native_platform.h"
#include "probe/calorim_probe.h"

namespace {

constexpr std::string_view kProgram = "calorim-probe";

constexpr std::string_view kHelp =
    "usage: calorim-probe\n"
    "       calorim-probe --help | --version\n"
    "\n"
    "An MCP server measuring this machine's power, usage and temperatures. An agent's host\n"
    "starts it and speaks JSON-RPC 2.0 on its standard input and output, one message per line;\n"
    "it ends when standard input ends. calorim-probe-sim serves a simulated machine.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the version\n";

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = calorim::cli::parse(std::vector<std::string>(argv + 1, argv + argc), {});
  if (const auto* error = std::get_if<calorim::cli::UsageError>(&parsed)) {
    return calorim::cli::printUsageError(kProgram, *error);
  }
  if (const auto* info = std::get_if<calorim::cli::InfoRequest>(&parsed)) {
    return calorim::cli::printInfo(*info, kProgram, kHelp, CALORIM_VERSION);
  }
  return calorim::probe::mcpMain(calorim::makeNativePlatform);
}
