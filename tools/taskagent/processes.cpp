// Finding the own processes of a name.
#include "taskagent/taskagent.h"

#include "support/strings.h"

namespace taskagent {

bool nameMatches(const ProcessNames& names, const std::string& wanted) {
    std::string name = support::toLower(support::baseName(wanted));
    if (name.empty())
        return false;
    std::string bare = name;
    if (bare.size() > 4 && bare.compare(bare.size() - 4, 4, ".exe") == 0)
        bare.resize(bare.size() - 4);
    for (const std::string* candidate : {&names.comm, &names.exe, &names.argv0}) {
        if (!candidate->empty() && (*candidate == name || *candidate == bare))
            return true;
    }
    return false;
}

std::vector<support::ProcessId> findProcesses(const std::string& wanted) {
    std::vector<support::ProcessId> found;
    for (const support::ProcessInfo& info : support::ownProcesses()) {
        ProcessNames names;
        names.comm = support::toLower(info.comm);
        names.exe = support::toLower(support::baseName(info.exe));
        names.argv0 = info.args.empty() ? std::string() : support::toLower(support::baseName(info.args[0]));
        if (nameMatches(names, wanted))
            found.push_back(info.id());
    }
    return found;
}

}  // namespace taskagent
