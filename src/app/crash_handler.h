// Fatal-signal handler: on SIGSEGV, SIGBUS, SIGFPE, SIGILL or SIGABRT it writes
// "Lumacro3.dmp" (signal, fault address, time, backtrace), prints "Fatal Error"
// on stderr and ends the process by re-raising the signal with its default
// action. It runs on an alternate signal stack, so a stack overflow of the
// installing thread is caught as well; it only uses async-signal-safe calls
// apart from backtrace(), which is loaded at install time.
#pragma once

#include <string>

namespace app {

// The dump goes into `appDir` when that folder is writable, else into
// `fallbackDir` (the program's config folder). Returns the chosen path;
// empty when neither folder is writable (the handler then only prints).
std::string installCrashHandler(const std::string& appDir, const std::string& fallbackDir);

// Gives the calling thread its own alternate signal stack (threads other than
// the installing one need it to report their stack overflows).
void crashHandlerThreadInit();

}  // namespace app
