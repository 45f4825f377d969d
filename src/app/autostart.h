// Start at logon: the XDG autostart entry <config>/autostart/Faroline.desktop
// runs `"<program folder>/taskagent" -start`.
#pragma once

#include "core/settings.h"

#include <string>

namespace app {

// "<config root>/autostart/Faroline.desktop"; `configRoot` empty: $XDG_CONFIG_HOME.
std::string autostartEntryPath(const std::string& configRoot = {});
// The text of the entry for a program folder.
std::string autostartEntry(const std::string& appDir);
// Quotes one argument for an Exec line of a desktop entry.
std::string desktopExecQuote(const std::string& arg);

// on: writes the entry, then AUTO_RUN = 1 (nothing is written when the entry
// cannot be). off: removes the entry (and the autostart folder when that
// leaves it empty), then AUTO_RUN = 0. True when the entry is as asked.
bool setAutoRun(core::Settings& settings, bool on, const std::string& appDir,
                const std::string& configRoot = {});
bool autoRunEntryExists(const std::string& configRoot = {});

}  // namespace app
