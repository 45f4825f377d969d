#include "app/firewall.h"

#include "support/logger.h"

namespace app {

void allowThroughFirewall(const std::string& programPath, const std::string& ruleName) {
    LOGOUT("firewall: no per-program rules here; %s (%s) needs its ports open", ruleName.c_str(),
           programPath.c_str());
}

}  // namespace app
