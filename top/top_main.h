#pragma once
// calorim-top as a function of its arguments: the full-screen view, or with
// `--json` a stream of samples as JSON lines.

namespace calorim::top {

// Returns the status to exit with: 0 after `q`, Esc, SIGINT, SIGTERM or
// SIGHUP, after `--count` samples, or once the reader of the JSON lines has
// gone; 1 when the machine or the terminal cannot be used; 2 for a command-line
// mistake and for a screen asked for on an output that is no terminal.
int topMain(int argc, char** argv);

}  // namespace calorim::top
