// calorim-run: the energy of one command.

#include "run/run_main.h"

int main(int argc, char** argv) { return calorim::run::runMain(argc, argv); }
