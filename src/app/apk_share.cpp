#include "app/apk_share.h"

#include "support/files.h"
#include "support/logger.h"
#include "support/strings.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace app {

namespace {

// Percent-encoding of UTF-8 text for a URL path segment (RFC 3986 unreserved kept).
std::string urlEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += "0123456789ABCDEF"[c >> 4];
            out += "0123456789ABCDEF"[c & 15];
        }
    }
    return out;
}

}  // namespace

std::string apkShareUrl(const std::string& appDir, const std::string& docDir,
                        const std::string& boundAddress, int httpPort) {
    namespace fs = std::filesystem;
    std::vector<std::string> apks;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(appDir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && support::toLower(name.substr(name.size() - 4)) == ".apk" &&
            entry.is_regular_file(ec))
            apks.push_back(name);
    }
    if (apks.empty())
        return "";
    std::sort(apks.begin(), apks.end());
    const std::string name = apks.front();
    const std::string recv = docDir + "/Recv";
    support::mkdir(recv);
    fs::copy_file(appDir + "/" + name, recv + "/" + name, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        LOGOUT("apk share: cannot copy %s to %s (%s)", name.c_str(), recv.c_str(), ec.message().c_str());
        return "";
    }
    char url[4096];
    std::snprintf(url, sizeof url, "http://%s:%d/Recv/%s", boundAddress.c_str(), httpPort,
                  urlEncode(name).c_str());
    return url;
}

}  // namespace app
