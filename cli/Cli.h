// The batch front end: argument parsing and the conversion it drives.
#pragma once

namespace qf {

// Runs quenfold-cli with its arguments; returns the process exit status.
int runCli(int argc, char** argv);

}  // namespace qf
