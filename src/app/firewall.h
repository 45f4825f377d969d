// Inbound firewall exceptions for the program and its helpers.
#pragma once

#include <string>

namespace app {

// Exception for a program under a rule name. Desktop Linux has no
// per-program inbound rules, so this only logs what would have been allowed.
void allowThroughFirewall(const std::string& programPath, const std::string& ruleName);

}  // namespace app
