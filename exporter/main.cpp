// calorim-exporter: the machine's power for Prometheus.

#include "exporter/exporter_main.h"

int main(int argc, char** argv) { return calorim::exporter::exporterMain(argc, argv); }
