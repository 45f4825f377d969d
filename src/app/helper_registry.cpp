#include "app/helper_registry.h"

#include "support/files.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <optional>
#include <unistd.h>

namespace app {

namespace {

constexpr const char kSuffix[] = ".pid";
constexpr size_t kSuffixLen = sizeof(kSuffix) - 1;

// The name becomes part of a path, so only a safe file-name alphabet is taken.
bool validName(const std::string& name) {
    if (name.empty() || name.size() > 100 || name[0] == '.')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_';
    });
}

std::string recordPath(const std::string& name) {
    return helpersDir() + "/" + name + kSuffix;
}

std::optional<HelperRecord> parseRecord(const std::string& name, const std::string& text) {
    size_t lineEnd = text.find('\n');
    if (lineEnd == std::string::npos || lineEnd == 0 || lineEnd > 10)
        return std::nullopt;
    long long pid = 0;
    for (size_t i = 0; i < lineEnd; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        pid = pid * 10 + (text[i] - '0');
    }
    if (pid <= 0 || pid > 0x7fffffff)
        return std::nullopt;
    std::string rest = text.substr(lineEnd + 1);
    if (rest.empty() || rest.back() != '\n')
        return std::nullopt;
    rest.pop_back();
    if (rest.empty() || rest.find('\n') != std::string::npos)
        return std::nullopt;
    return HelperRecord{name, static_cast<pid_t>(pid), rest};
}

// Visits every "*.pid" entry of the helpers folder with its name part.
template <typename Fn>
void forEachRecordFile(Fn fn) {
    const std::string folder = helpersDir();
    if (folder.empty())
        return;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string file = entry->d_name;
        if (file.size() > kSuffixLen && file.compare(file.size() - kSuffixLen, kSuffixLen, kSuffix) == 0)
            names.push_back(file.substr(0, file.size() - kSuffixLen));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        fn(name);
}

}  // namespace

std::string helpersDir() {
    std::string dir = support::runtimeDir();
    return dir.empty() ? std::string() : dir + "/helpers";
}

bool recordHelper(const std::string& name, pid_t pid, const std::string& exePath) {
    if (!validName(name) || pid <= 0 || exePath.empty() ||
        exePath.find('\n') != std::string::npos || exePath.find('\0') != std::string::npos)
        return false;
    if (helpersDir().empty() || !support::mkdir(helpersDir()))
        return false;
    return support::writeFileAtomic(recordPath(name), std::to_string(pid) + "\n" + exePath + "\n");
}

bool forgetHelper(const std::string& name) {
    if (!validName(name))
        return false;
    if (helpersDir().empty())
        return true;  // no folder, so no record
    return ::unlink(recordPath(name).c_str()) == 0 || errno == ENOENT;
}

std::vector<HelperRecord> listHelpers() {
    std::vector<HelperRecord> records;
    forEachRecordFile([&](const std::string& name) {
        std::string text;
        if (!validName(name) || !support::readFile(recordPath(name), text))
            return;
        if (auto record = parseRecord(name, text))
            records.push_back(std::move(*record));
    });
    return records;
}

int removeDamagedHelperRecords() {
    int removed = 0;
    forEachRecordFile([&](const std::string& name) {
        std::string path = helpersDir() + "/" + name + kSuffix;
        std::string text;
        if (validName(name) && support::readFile(path, text) && parseRecord(name, text))
            return;
        if (support::getFileType(path) == 0 && ::unlink(path.c_str()) == 0)
            ++removed;
    });
    return removed;
}

}  // namespace app
