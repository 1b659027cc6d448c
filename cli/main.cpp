#include "cli/Cli.h"

int main(int argc, char** argv) { return qf::runCli(argc, argv); }
