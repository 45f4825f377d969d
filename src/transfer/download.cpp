#include "transfer/download.h"

#include "support/logger.h"

#include <cerrno>
#include <curl/curl.h>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace transfer {

namespace {

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Target {
    const std::string* path = nullptr;
    int fd = -1;
    bool failed = false;
};

size_t writeBlock(char* data, size_t size, size_t count, void* user) {
    auto* target = static_cast<Target*>(user);
    const size_t length = size * count;
    if (target->fd < 0) {
        if (target->failed)
            return CURL_WRITEFUNC_ERROR;
        target->fd = ::open(target->path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (target->fd < 0) {
            target->failed = true;
            LOGOUT("create file failed: %s", target->path->c_str());
            return CURL_WRITEFUNC_ERROR;
        }
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(target->fd, data + done, length - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;  // a short count makes libcurl end with a write error
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* abort = static_cast<const std::atomic<bool>*>(user);
    return abort && abort->load() ? 1 : 0;
}

}  // namespace

DownloadResult fetchToFile(const std::string& url, const std::string& path, const DownloadLimits& limits) {
    globalInit();
    DownloadResult result;
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.curlCode = CURLE_FAILED_INIT;
        return result;
    }
    Target target;
    target.path = &path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_VERBOSE, support::log().isOn() ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // An HTTP error answer is not the file that was asked for.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    // A phone names the file; it must not make us copy local files (file://)
    // or speak other protocols for it.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBlock);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &target);
    if (limits.abort) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, limits.abort);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    result.curlCode = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (target.fd >= 0) {
        ::close(target.fd);
        result.fileCreated = true;
    }
    return result;
}

bool downloadToFile(const std::string& url, const std::string& path) {
    const DownloadResult result = fetchToFile(url, path);
    if (result.curlCode != CURLE_OK) {
        LOGOUT("download %s failed: %d", url.c_str(), result.curlCode);
        return false;
    }
    return ::access(path.c_str(), R_OK) == 0;
}

std::string unescapeUrl(const std::string& url) {
    globalInit();
    int length = 0;
    char* text = curl_easy_unescape(nullptr, url.c_str(), static_cast<int>(url.size()), &length);
    if (!text)
        return {};
    std::string out(text, static_cast<size_t>(length));
    curl_free(text);
    return out;
}

}  // namespace transfer
