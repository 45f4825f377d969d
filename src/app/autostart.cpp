#include "app/autostart.h"

#include "app/app_settings.h"
#include "support/files.h"
#include "support/logger.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace app {

namespace {

std::string root(const std::string& configRoot) {
    return configRoot.empty() ? support::configDir() : configRoot;
}

}  // namespace

std::string autostartEntryPath(const std::string& configRoot) {
    const std::string r = root(configRoot);
    return r.empty() ? std::string() : r + "/autostart/Faroline.desktop";
}

std::string desktopExecQuote(const std::string& arg) {
    // Inside double quotes '"', '`', '$' and '\' take a backslash; the entry's
    // own string escaping then doubles every backslash. '%' starts a field code.
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$')
            out += "\\\\";
        if (c == '\\')
            out += "\\\\\\";
        if (c == '%')
            out += '%';
        out += c;
    }
    return out + "\"";
}

std::string autostartEntry(const std::string& appDir) {
    std::string e;
    e += "[Desktop Entry]\n";
    e += "Type=Application\n";
    e += "Name=Faroline\n";
    e += "Comment=Starts Lumacro3 at logon\n";
    e += "Exec=" + desktopExecQuote(appDir + "/taskagent") + " -start\n";
    e += "Terminal=false\n";
    e += "NoDisplay=true\n";
    e += "X-GNOME-Autostart-enabled=true\n";
    return e;
}

bool autoRunEntryExists(const std::string& configRoot) {
    const std::string path = autostartEntryPath(configRoot);
    return !path.empty() && support::getFileType(path) == 0;
}

bool setAutoRun(core::Settings& settings, bool on, const std::string& appDir, const std::string& configRoot) {
    const std::string path = autostartEntryPath(configRoot);
    if (path.empty()) {
        LOGOUT("autostart: no configuration folder");
        return false;
    }
    const std::string dir = support::getFileName(path, "dir");
    if (on) {
        if (!support::mkdir(dir) || !support::writeFileAtomic(path, autostartEntry(appDir))) {
            LOGOUT("autostart: cannot write %s (%s)", path.c_str(), std::strerror(errno));
            return false;
        }
        settings.setInt(setting::AUTO_RUN.section, setting::AUTO_RUN.name, 1);
        return true;
    }
    bool ok = ::unlink(path.c_str()) == 0 || errno == ENOENT;
    if (!ok)
        LOGOUT("autostart: cannot remove %s (%s)", path.c_str(), std::strerror(errno));
    ::rmdir(dir.c_str());  // only succeeds when nothing else is in it
    settings.setInt(setting::AUTO_RUN.section, setting::AUTO_RUN.name, 0);
    return ok;
}

}  // namespace app
