#include "ui/settings/update_check.h"

#include "support/files.h"
#include "support/logger.h"
#include "transfer/download.h"
#include "ui/settings/settings_rules.h"

#include <curl/curl.h>
#include <json/reader.h>
#include <json/value.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#ifndef LUMACRO3_VERSION
#define LUMACRO3_VERSION "0.0.0.0"
#endif

namespace ui::settings {

std::string programVersion() { return LUMACRO3_VERSION; }

namespace {

struct Sink {
    std::string* body;
    size_t limit;
};

size_t appendBlock(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (sink->body->size() + n > sink->limit) return 0;  // ends the transfer with an error
    sink->body->append(data, n);
    return n;
}

}  // namespace

bool fetchToMemory(const std::string& url, std::string& body, long timeoutSeconds, size_t limit) {
    body.clear();
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return false;
    Sink sink{&body, limit};
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, appendBlock);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
    // The check runs on the UI thread: it must not wait for ever.
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, timeoutSeconds);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
#endif
    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK) {
        LOGOUT("update: fetching %s failed: %s", url.c_str(), curl_easy_strerror(code));
        body.clear();
        return false;
    }
    return true;
}

bool parseUpdateInfo(const std::string& body, UpdateInfo& info) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["stackLimit"] = 64;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors) || !root.isObject())
        return false;
    const Json::Value& version = root["versionName"];
    const Json::Value& dir = root["dir"];
    if (!version.isString() || !dir.isString()) return false;
    info.versionName = version.asString();
    info.dir = dir.asString();
    return !info.versionName.empty() && !info.dir.empty();
}

UpdateCheck checkForUpdate(const std::string& updateUrl, const std::string& ownVersion,
                           const std::string& productId) {
    UpdateCheck check;
    std::string body;
    UpdateInfo info;
    if (!fetchToMemory(updateUrl, body)) return check;
    if (!parseUpdateInfo(body, info)) {
        LOGOUT("update: no usable update information at %s", updateUrl.c_str());
        return check;
    }
    support::mkdir(updateFolder());
    check.versionName = info.versionName;
    if (compareVersions(ownVersion, info.versionName) < 1) {
        check.outcome = UpdateCheck::NoUpdate;
        return check;
    }
    check.outcome = UpdateCheck::Newer;
    check.installerUrl = installerUrl(info.dir, productId, info.versionName);
    return check;
}

std::string updateFolder() {
    std::error_code ec;
    std::string temp = std::filesystem::temp_directory_path(ec).string();
    if (ec || temp.empty()) temp = "/tmp";
    return temp + "/Quorvel/Lumacro/Update";
}

UpdateDownloader::~UpdateDownloader() {
    stop_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) thread_.join();
}

bool UpdateDownloader::start(const std::string& url, const std::string& path, std::function<void(bool)> done) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool idle = false;
    if (!downloading_.compare_exchange_strong(idle, true)) return false;
    if (thread_.joinable()) thread_.join();  // the previous download has ended
    thread_ = std::thread([this, url, path, done = std::move(done)] {
        transfer::DownloadLimits limits;
        limits.abort = &stop_;
        const transfer::DownloadResult result = transfer::fetchToFile(url, path, limits);
        const bool ok = result.curlCode == 0 && std::filesystem::is_regular_file(path);
        if (!ok) LOGOUT("update: download of %s failed (curl %d)", url.c_str(), result.curlCode);
        if (!stop_ && done) done(ok);
        downloading_ = false;
    });
    return true;
}

}  // namespace ui::settings
