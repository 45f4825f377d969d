#include "app/app_settings.h"

#include "app/product_descriptor.h"
#include "support/files.h"
#include "support/logger.h"
#include "support/process.h"
#include "support/strings.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace app {

namespace {

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return pw->pw_dir;
    return "";
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

std::string userDocumentsDir() {
    const std::string home = withoutTrailingSlash(homeDir());
    std::string dir = support::runCmd("xdg-user-dir", "DOCUMENTS", "");
    while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r'))
        dir.pop_back();
    dir = withoutTrailingSlash(dir);
    // Without a user-dirs file the tool answers $HOME, which is no documents folder.
    if (dir.empty() || dir[0] != '/' || dir == home)
        dir = (home.empty() ? std::string("/tmp") : home) + "/Documents";
    return dir;
}

std::string computerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return support::truncateUtf16Units(name, 63);
}

std::string normalizeLanguage(const std::string& tag) {
    if (tag.empty() || tag == "zh-TW" || tag == "ChineseTraditional")
        return "zh-CN";
    return tag;
}

AppSettings::AppSettings(core::Settings& store, std::string productTag, std::string documentsDir)
    : store_(store), tag_(std::move(productTag)), documents_(std::move(documentsDir)) {
    if (tag_.empty())
        tag_ = kDefaultProductTag;
}

std::string AppSettings::language() {
    return normalizeLanguage(getSet(setting::language, "zh-CN"));
}

bool AppSettings::setLanguage(const std::string& tag) {
    return store_.setString(setting::SET, setting::language, tag);
}

std::string AppSettings::serverName() {
    return getSet(setting::srvName, computerName());
}

bool AppSettings::setServerName(const std::string& name) {
    return store_.setString(setting::SET, setting::srvName, name);
}

std::string AppSettings::bindIp() {
    return store_.getString(setting::NET, setting::bindIp, "0.0.0.0");
}

bool AppSettings::setBindIp(const std::string& address) {
    return store_.setString(setting::NET, setting::bindIp, address);
}

std::string AppSettings::cursorPath() { return getSet(setting::CURSOR_PATH, ""); }
std::string AppSettings::watermark() { return getSet(setting::WATERMARK, ""); }
std::string AppSettings::lastFile() { return getSet(setting::lastfile, ""); }
std::string AppSettings::shareFile() { return getSet(setting::ShareFile, ""); }

bool AppSettings::setLastFile(const std::string& path) {
    return store_.setString(setting::SET, setting::lastfile, path);
}

bool AppSettings::setShareFile(const std::string& path) {
    return store_.setString(setting::SET, setting::ShareFile, path);
}

std::string AppSettings::defaultDocDir() {
    if (documents_.empty())
        documents_ = userDocumentsDir();
    return withoutTrailingSlash(documents_) + "/" + tag_;
}

std::string AppSettings::docDir() {
    const std::string def = defaultDocDir();
    support::mkdir(def);
    return getSet(setting::DOC_DIR, def);
}

bool AppSettings::setDocDir(const std::string& path) {
    return store_.setString(setting::SET, setting::DOC_DIR, path);
}

std::string AppSettings::prepareDocDir() {
    const std::string dir = getSet(setting::DOC_DIR, defaultDocDir());
    setDocDir(dir);
    for (const char* sub : {"/Record", "/Snapshot", "/Recv", "/.temp"}) {
        if (!support::mkdir(dir + sub))
            LOGOUT("document folder: cannot create %s%s", dir.c_str(), sub);
    }
    support::rmdir(dir + "/.temp/public");
    return dir;
}

int64_t AppSettings::corvex() {
    return store_.getKeyInt(setting::kProgramSetKey, setting::Corvex);
}

bool AppSettings::setCorvex(int64_t value) {
    return store_.setKeyInt(setting::kProgramSetKey, setting::Corvex, value);
}

}  // namespace app
