// Records of the helper processes the program starts (web server, FTP server,
// slide helper), one file per helper: runtimeDir()/helpers/<name>.pid holding
// "<pid>\n<exe path>\n". taskagent reads them to end helpers the program left
// behind.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace app {

struct HelperRecord {
    std::string name;
    pid_t pid = 0;
    std::string exe;
};

// Empty when there is no private runtime folder.
std::string helpersDir();

// Names are plain file names (letters, digits, '.', '-', '_'; not starting with
// '.'); pid must be positive and the path must not hold a line feed. False
// when refused or the record could not be written.
bool recordHelper(const std::string& name, pid_t pid, const std::string& exePath);
// True when no record of that name is left afterwards.
bool forgetHelper(const std::string& name);
// Well-formed records, sorted by name. Damaged records are left out.
std::vector<HelperRecord> listHelpers();
// Deletes records that cannot be read back (wrong format, bad name); returns how many.
int removeDamagedHelperRecords();

}  // namespace app
