#include "transfer/file_receiver.h"

#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/files.h"
#include "support/logger.h"
#include "support/strings.h"
#include "support/thread_pool.h"
#include "transfer/safe_path.h"

#include <exception>
#include <system_error>

namespace transfer {

namespace field = protocol::field;

namespace {

// Set while this thread runs a guarded job, so that a job scheduled from
// inside one (without a pool) does not take the guard a second time.
thread_local bool tInGuard = false;

bool isAddressChar(char c) { return (c >= '0' && c <= '9') || c == '.'; }

// Position of the first occurrence of `dotted` in `url` that is not part of a
// longer address (192.168.1.5 inside 192.168.1.50), npos when none.
size_t findAddress(const std::string& url, const std::string& dotted) {
    for (size_t at = url.find(dotted); at != std::string::npos; at = url.find(dotted, at + 1)) {
        const size_t end = at + dotted.size();
        if ((at == 0 || !isAddressChar(url[at - 1])) && (end == url.size() || !isAddressChar(url[end])))
            return at;
    }
    return std::string::npos;
}

}  // namespace

FileReceiver::FileReceiver(FileReceiverDeps deps) : deps_(std::move(deps)) {}

FileReceiver::~FileReceiver() {
    abort_.store(true);
    {
        // Waits for a running open; queued jobs see `stopped` and do nothing.
        std::unique_lock lock(guard_->mutex);
        guard_->stopped = true;
    }
    waitForDownloads();
}

std::string FileReceiver::receiveFolder() const {
    const std::string doc = deps_.docDir ? deps_.docDir() : std::string();
    return doc.empty() ? std::string() : doc + "/Recv";
}

void FileReceiver::runGuarded(const std::function<void()>& job) {
    auto run = [&job] {
        try {
            job();
        } catch (const std::exception& e) {
            LOGOUT("file receive job failed: %s", e.what());
        }
    };
    if (tInGuard) {
        run();
        return;
    }
    std::shared_lock lock(guard_->mutex);
    if (guard_->stopped)
        return;
    tInGuard = true;
    run();
    tInGuard = false;
}

void FileReceiver::schedule(std::function<void()> job) {
    if (!deps_.threadPool) {
        runGuarded(job);
        return;
    }
    std::shared_ptr<Guard> guard = guard_;
    const bool queued = deps_.threadPool->submit([this, guard, job = std::move(job)] {
        // The guard is shared so that a job left in the queue after the
        // receiver is gone only reads the flag.
        {
            std::shared_lock lock(guard->mutex);
            if (guard->stopped)
                return;
        }
        runGuarded(job);
    });
    if (!queued)
        LOGOUT("file receive job dropped: thread pool stopped");
}

void FileReceiver::fileMessage(int socket, int action, const Json::Value& message, const uint8_t* data,
                               size_t length) {
    (void)socket;
    const int64_t fileId = message[field::fileId].asInt64();
    switch (action) {
    case 0: {
        const std::string path = table_.finish(fileId);
        if (!path.empty())
            schedule([this, path] { openReceivedFile(path); });
        break;
    }
    case 1: {
        const std::string given = message[field::fileName].asString();
        const int64_t fileSize = message[field::fileSize].asInt64();
        const std::string name = safeFileName(given);
        const std::string folder = receiveFolder();
        if (name.empty() || folder.empty()) {
            LOGOUT("file %lld: name \"%s\" refused", static_cast<long long>(fileId), given.c_str());
            break;
        }
        table_.start(fileId, folder, name, fileSize);
        break;
    }
    case 2:
        if (data && length)
            table_.write(fileId, data, length);
        break;
    case 3:
        table_.end(fileId);
        break;
    case 4: {
        Json::Value copy = message;
        schedule([this, copy = std::move(copy)] { checkReceivedFile(copy); });
        break;
    }
    default:
        break;
    }
}

void FileReceiver::openUrl(const std::string& url, int anim, bool local) {
    if (local) {
        const uint32_t bound = deps_.server ? deps_.server->boundAddress() : 0;
        const size_t at = bound ? findAddress(url, support::ip2string(bound)) : std::string::npos;
        const size_t slash = at == std::string::npos ? std::string::npos : url.find('/', at);
        const std::string doc = deps_.docDir ? deps_.docDir() : std::string();
        if (slash == std::string::npos || doc.empty()) {
            LOGOUT("url %s names no file here", url.c_str());
            return;
        }
        // The path is taken as it comes (no unescaping) but must stay inside
        // the document folder.
        const std::string path = resolveInside(doc, url.substr(slash + 1));
        if (path.empty()) {
            LOGOUT("url %s lies outside the document folder", url.c_str());
            return;
        }
        if (deps_.features && deps_.features->drawingBoard)
            deps_.features->drawingBoard->setAnime(anim);
        schedule([this, path] { openReceivedFile(path); });
        return;
    }

    std::lock_guard lock(downloadsMutex_);
    reapDownloads(false);
    // Each download holds a thread until it ends or times out; a phone that
    // sends URL after URL must not pile them up without limit.
    if (downloads_.size() >= kMaxDownloads) {
        LOGOUT("url %s dropped: %zu downloads running", url.c_str(), downloads_.size());
        return;
    }
    Download& download = downloads_.emplace_back();
    try {
        download.thread = std::thread([this, url, &download] {
            downloadAndOpen(url);
            download.done.store(true);
        });
    } catch (const std::system_error& e) {
        downloads_.pop_back();
        LOGOUT("url %s dropped: no thread: %s", url.c_str(), e.what());
    }
}

void FileReceiver::downloadAndOpen(const std::string& url) {
    const std::string folder = receiveFolder();
    if (folder.empty()) {
        LOGOUT("url %s: no document folder", url.c_str());
        return;
    }
    support::mkdir(folder);
    const std::string unescaped = unescapeUrl(url);
    const size_t slash = unescaped.rfind('/');
    // An empty or refused name leaves the folder itself as the target, which
    // cannot be created as a file: the transfer then fails and is logged.
    const std::string name = safeFileName(slash == std::string::npos ? unescaped : unescaped.substr(slash + 1));
    const std::string path = folder + "/" + name;

    DownloadLimits limits = deps_.limits;
    limits.abort = &abort_;
    const DownloadResult result = fetchToFile(url, path, limits);
    if (result.curlCode != 0) {
        LOGOUT("curl_easy_perform failed: %s, err:%d", url.c_str(), result.curlCode);
        return;
    }
    if (!result.fileCreated) {
        LOGOUT("url %s delivered no data", url.c_str());
        return;
    }
    runGuarded([this, &path] { openReceivedFile(path); });
}

void FileReceiver::reapDownloads(bool all) {
    for (auto it = downloads_.begin(); it != downloads_.end();) {
        if (all || it->done.load()) {
            if (it->thread.joinable())
                it->thread.join();
            it = downloads_.erase(it);
        } else {
            ++it;
        }
    }
}

void FileReceiver::waitForDownloads() {
    std::lock_guard lock(downloadsMutex_);
    reapDownloads(true);
}

void FileReceiver::closeAll() { table_.clear(); }

void FileReceiver::openReceivedFile(const std::string& path) {
    const size_t dot = path.rfind('.');
    const std::string ext = support::toLower(dot == std::string::npos ? path : path.substr(dot + 1));

    if (ext == "jpg" || ext == "bmp" || ext == "png" || ext == "jpeg") {
        core::MainHub* hub = hub_.load();
        if (!hub) {
            LOGOUT("drawing board not available: %s", path.c_str());
            return;
        }
        hub->post(core::UM_PAINTER, 0, 0, core::makeTextBlock(path, core::kUrlBlockUnits));
        return;
    }
    if (ext == "ppt" || ext == "pptx" || ext == "odp") {
        std::string md5;
        if (!support::getMd5(path, md5))
            return;
        if (!deps_.slides) {
            LOGOUT("slide-show bridge not available: %s", path.c_str());
            return;
        }
        deps_.slides->openPresentation(path);
        const std::string doc = deps_.docDir ? deps_.docDir() : std::string();
        if (doc.empty())
            return;
        support::mkdir(doc + "/.temp");
        deps_.slides->publishSlides(doc + "/.temp", md5);
        return;
    }
    if (!deps_.opener) {
        LOGOUT("no application to open %s", path.c_str());
        return;
    }
    deps_.opener->open(path);
}

void FileReceiver::checkReceivedFile(const Json::Value& message) {
    const std::string expected = message.isMember(field::md5) ? message[field::md5].asString() : std::string();
    const std::string name = safeFileName(message[field::fileName].asString());
    const std::string folder = receiveFolder();
    std::string digest;
    if (!expected.empty() && !name.empty() && !folder.empty() && support::getMd5(folder + "/" + name, digest) &&
        support::toLower(digest) == support::toLower(expected)) {
        const std::string path = folder + "/" + name;
        schedule([this, path] { openReceivedFile(path); });
        return;
    }
    if (!deps_.server)
        return;
    Json::Value answer = message;
    answer[field::action] = -1;
    deps_.server->send(protocol::MsgFile, answer, nullptr, 0, -1);
}

}  // namespace transfer
