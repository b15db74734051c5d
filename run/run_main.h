#pragma once
// The calorim-run program: reads the command line, starts the energy
// readings and the command, reads the counters every interval until the
// command ends, then writes the report and returns the command's status
// (see run/command.h). A mistake on the command line is one line on standard
// error and returns 2; a command that cannot be started, one line and 127 or
// 126; calorim-run's own failures before the command runs (an unreadable
// profile, an --output file that cannot be created), one line and 125.
// An --output file that cannot be written after the command ran is one line,
// the report then goes to standard error, and the command's status is still
// returned: the command did run, and its status is what scripts test.

namespace calorim::run {

[[nodiscard]] int runMain(int argc, char** argv);

}  // namespace calorim::run
