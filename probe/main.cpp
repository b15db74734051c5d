// calorim-probe: the MCP server measuring the machine it runs on.

#include "core/platform/native/native_platform.h"
#include "probe/calorim_probe.h"

int main() { return calorim::probe::mcpMain(calorim::makeNativePlatform); }
