#pragma once
// The calorim-exporter program: reads the command line, starts the sampling
// worker and the HTTP server, and serves until SIGTERM or SIGINT, then ends
// both and returns 0. A mistake on the command line is one line on standard
// error and returns 2; other problems (an address that cannot be bound, an
// unreadable profile) are one line on standard error and return 1.
// Once serving, one line on standard output gives the address.

namespace calorim::exporter {

[[nodiscard]] int exporterMain(int argc, char** argv);

}  // namespace calorim::exporter
