#include "app/process_lookup.h"

#include "support/proc_table.h"
#include "support/strings.h"

namespace app {

bool isProcessRunning(const std::string& nameArg) {
    std::string wanted = support::toLower(nameArg);
    if (wanted.size() > 4 && wanted.compare(wanted.size() - 4, 4, ".exe") == 0)
        wanted.resize(wanted.size() - 4);
    if (wanted.empty())
        return false;
    auto contains = [&](const std::string& name) {
        return !name.empty() && support::toLower(name).find(wanted) != std::string::npos;
    };
    for (const support::ProcessInfo& info : support::listProcesses()) {
        if (info.zombie())
            continue;  // ended, only waiting to be reaped
        if (contains(info.comm) || contains(support::baseName(info.exe)) ||
            (!info.args.empty() && contains(support::baseName(info.args[0]))))
            return true;
    }
    return false;
}

}  // namespace app
