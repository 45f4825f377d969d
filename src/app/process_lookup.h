// Whether a program of a given name runs on this machine.
#pragma once

#include <string>

namespace app {

// True when a running process (not a zombie) of any user has a name that
// contains `name`, compared case-insensitively; a trailing ".exe" of `name` is
// ignored. The process name is its comm, the base name of its executable or
// of its first argument.
bool isProcessRunning(const std::string& name);

}  // namespace app
