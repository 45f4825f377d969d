#include "transfer/file_share.h"

#include "support/files.h"
#include "support/logger.h"
#include "support/strings.h"

#include <curl/curl.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace transfer {

namespace fs = std::filesystem;

namespace {

bool isRegularFile(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

}  // namespace

std::string firstApk(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && support::toLower(name.substr(name.size() - 4)) == ".apk" &&
            entry.is_regular_file(ec))
            found.push_back(entry.path().string());
    }
    if (found.empty()) return {};
    std::sort(found.begin(), found.end());
    return found.front();
}

std::string publishedCopy(const std::string& docDir, const std::string& shared) {
    return docDir + "/Recv/" + fs::path(shared).filename().string();
}

std::string shareDownloadUrl(const std::string& boundAddress, const std::string& shared) {
    const std::string name = fs::path(shared).filename().string();
    std::string escaped;
    if (char* e = curl_easy_escape(nullptr, name.c_str(), static_cast<int>(name.size()))) {
        escaped = e;
        curl_free(e);
    }
    return "http://" + boundAddress + ":" + std::to_string(kShareHttpPort) + "/Recv/" + escaped;
}

bool copyToPublished(const std::string& shared, const std::string& docDir) {
    support::mkdir(docDir + "/Recv");
    const std::string copy = publishedCopy(docDir, shared);
    std::error_code ec;
    if (fs::equivalent(shared, copy, ec)) return true;  // the file is in the receive folder already
    fs::copy_file(shared, copy, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        LOGOUT("file share: cannot copy %s to %s (%s)", shared.c_str(), copy.c_str(), ec.message().c_str());
        return false;
    }
    return true;
}

SharePreparation prepareShare(core::Settings& settings, const std::string& currentFolder,
                              const std::string& docDir) {
    SharePreparation p;
    const std::string apk = firstApk(currentFolder);
    p.shared = settings.getString(core::setting::SET, "ShareFile", apk);
    if (!isRegularFile(p.shared)) {
        settings.setString(core::setting::SET, "ShareFile", apk);
        p.shared = apk;
    }
    if (p.shared.empty()) return p;
    const std::string copy = publishedCopy(docDir, p.shared);
    std::string sharedMd5, copyMd5;
    if (support::getMd5(p.shared, sharedMd5) && support::getMd5(copy, copyMd5) && sharedMd5 == copyMd5) {
        LOGOUT("MD5 Matched");
        p.md5Matched = true;
    } else {
        copyToPublished(p.shared, docDir);
    }
    p.publish = isRegularFile(copy);
    return p;
}

}  // namespace transfer
