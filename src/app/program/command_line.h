// The program's command line as the start-up reads it.
#pragma once

#include <string>
#include <vector>

namespace app {

inline constexpr const char kProtocolPrefix[] = "Faroline://";

// `argv` starts with the program path. A single argument that begins with the
// protocol prefix (any case) is split at "," (at " " when that gives one part):
// the first part without the prefix, lower-cased, is the command, and the
// result is [program path, command, further parts...]. Otherwise the
// arguments are kept as they are.
std::vector<std::string> interpretCommandLine(const std::vector<std::string>& argv);

// True when the first argument after the program path asks to quit.
bool asksToQuit(const std::vector<std::string>& arguments);

}  // namespace app
