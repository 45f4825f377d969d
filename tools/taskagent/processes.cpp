// Finding the own processes of a name.
#include "taskagent/taskagent.h"

#include "support/strings.h"

namespace taskagent {

std::vector<support::ProcessId> findProcesses(const std::string& wanted) {
    const std::string name = support::toLower(support::baseName(wanted));
    std::string bare = name;
    if (bare.size() > 4 && bare.compare(bare.size() - 4, 4, ".exe") == 0)
        bare.resize(bare.size() - 4);
    std::vector<support::ProcessId> found;
    if (name.empty())
        return found;
    for (const support::ProcessInfo& info : support::ownProcesses())
        if (support::knownAs(info, name) || support::knownAs(info, bare))
            found.push_back(info.id());
    return found;
}

}  // namespace taskagent
