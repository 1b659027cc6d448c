// Text from outside (arguments, names read from font files) made safe for a terminal.
#pragma once

#include <string>

namespace qf::cli {

// Control bytes shown as \xHH, so an argument's or a file's escape sequences never reach the
// terminal.
std::string printable(const std::string& text);

}  // namespace qf::cli
