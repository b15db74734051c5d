// calorim-top: this machine's power, usage and temperatures, live in the terminal.

#include "top/top_main.h"

int main(int argc, char** argv) { return calorim::top::topMain(argc, argv); }
