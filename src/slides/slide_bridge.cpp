#include "slides/slide_bridge.h"

#include "core/settings.h"
#include "platform/window_raiser.h"
#include "protocol/fields.h"
#include "support/child_process.h"
#include "support/clock.h"
#include "support/files.h"
#include "support/logger.h"
#include "support/proc_table.h"

#include <json/reader.h>
#include <json/writer.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace slides {

namespace field = protocol::field;

namespace {

// The receive buffer; a longer datagram is cut.
constexpr size_t kDatagramBytes = 64512;
// More images than any presentation has: a larger count is cut here so a bad
// datagram cannot make the bridge build an endless URL list.
constexpr int kMaxImages = 5000;
constexpr const char kPresentationProcess[] = "soffice.bin";

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

bool parseObject(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    builder["stackLimit"] = 64;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        return reader->parse(text.data(), text.data() + text.size(), &out, &errors) && out.isObject();
    } catch (const std::exception&) {
        // Nesting deeper than the stack limit throws instead of failing.
        return false;
    }
}

sockaddr_in makeAddress(const std::string& dotted, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (inet_pton(AF_INET, dotted.c_str(), &a.sin_addr) != 1) a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

bool validImageKey(const std::string& key) {
    if (key.empty() || key.size() > 64) return false;
    return std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
}

SlideBridge::SlideBridge(SlideBridgeDeps deps) : deps_(std::move(deps)) {
    helperAddress_ = deps_.address.empty() || deps_.address == "0.0.0.0" ? "127.0.0.1" : deps_.address;

    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ >= 0) {
        const int on = 1;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local = makeAddress(deps_.address.empty() ? "0.0.0.0" : deps_.address, deps_.bridgePort);
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            LOGOUT("slide bridge: cannot bind udp %s:%u: %s", deps_.address.c_str(), deps_.bridgePort,
                   std::strerror(errno));
            ::close(socket_);
            socket_ = -1;
        }
    } else {
        LOGOUT("slide bridge: no udp socket: %s", std::strerror(errno));
    }

    clearExpiredCache();
    // Looking through the process table for a leftover helper takes a while
    // on a busy machine: the receive thread does it, then starts the helper.
    if (socket_ >= 0) thread_ = std::thread([this] {
        if (!deps_.helperProgram.empty()) {
            endLeftoverHelpers();
            if (!stopping_ && launchHelper()) watchdogDue_ = support::gettime2() + deps_.watchdogMs;
        }
        receiveLoop();
    });
}

void SlideBridge::requestStop() {
    stopping_ = true;
    std::lock_guard<std::mutex> lock(openMutex_);
    openCv_.notify_all();
}

SlideBridge::~SlideBridge() {
    requestStop();
    if (thread_.joinable()) thread_.join();
    if (socket_ >= 0) ::close(socket_);
    std::lock_guard<std::mutex> lock(helperMutex_);
    if (helper_ && *helper_) helper_->terminate(std::chrono::milliseconds(2000));
    helper_.reset();
    LOGOUT("slide bridge freed");
}

void SlideBridge::clearExpiredCache() {
    if (!deps_.settings) return;
    const int64_t now = deps_.hoursNow ? deps_.hoursNow() : support::gettime() / 1000 / 3600;
    const int64_t last = deps_.settings->getInt(core::setting::SET, "lastClearTemp", 0);
    // Unsigned, so a stored time in the future empties the cache as well.
    if (static_cast<uint64_t>(now - last) > static_cast<uint64_t>(kCacheHours)) {
        if (!deps_.cacheDir.empty()) support::rmdir(deps_.cacheDir);
        deps_.settings->setInt(core::setting::SET, "lastClearTemp", now);
        LOGOUT("slide image cache cleared");
    }
}

void SlideBridge::endLeftoverHelpers() {
    // A helper whose parent is gone was left by an earlier run; one that has
    // a parent belongs to a copy that still runs.
    std::vector<support::ProcessId> leftovers;
    for (const support::ProcessInfo& p : support::findOwnProcesses(kHelperName))
        if (p.ppid <= 1 || support::processGone(p.ppid)) leftovers.push_back(p.id());
    if (leftovers.empty()) return;
    LOGOUT("ending %zu leftover %s", leftovers.size(), kHelperName);
    support::terminateProcesses(leftovers, std::chrono::milliseconds(1000));
}

bool SlideBridge::launchHelper() {
    support::SpawnOptions options;
    if (deps_.helperInterpreter.empty()) {
        options.program = deps_.helperProgram;
    } else {
        options.program = deps_.helperInterpreter;
        options.args = {deps_.helperProgram};
    }
    options.workDir = deps_.helperDir;
    options.env = deps_.helperEnv;
    options.env.push_back(std::string(kAddressVariable) + "=" + helperAddress_);
    options.env.push_back("LUMACRO3_SLIDEBRIDGE_PORTS=" + std::to_string(deps_.helperPort) + "," +
                          std::to_string(deps_.bridgePort));
    options.out = support::SpawnOptions::Stream::Inherit;
    options.err = support::SpawnOptions::Stream::Inherit;
    std::string error;
    auto child = std::make_unique<support::ChildProcess>(support::spawn(options, &error));
    std::lock_guard<std::mutex> lock(helperMutex_);
    if (!*child) {
        LOGOUT("RunProcess failed: %s", error.c_str());
        helper_.reset();
        return false;
    }
    helper_ = std::move(child);
    return true;
}

void SlideBridge::watchdog() {
    bool running = false;
    {
        std::lock_guard<std::mutex> lock(helperMutex_);
        running = helper_ && *helper_ && !helper_->tryReap();
    }
    if (!running) {
        for (const support::ProcessInfo& p : support::findOwnProcesses(kHelperName))
            if (p.ppid == ::getpid()) running = true;
    }
    if (running) {
        LOGOUT("SlideBridge is running");
        return;
    }
    LOGOUT("can't find SlideBridge, restart it");
    launchHelper();
    sleepMs(200);
}

void SlideBridge::receiveLoop() {
    std::vector<char> buffer(kDatagramBytes + 1);
    while (!stopping_) {
        if (watchdogDue_ && support::gettime2() >= watchdogDue_) {
            watchdogDue_ = 0;
            watchdog();
        }
        pollfd pfd{socket_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 200);
        if (ready <= 0) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(socket_, buffer.data(), kDatagramBytes, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNREFUSED) continue;
            LOGOUT("slide bridge: receive failed: %s", std::strerror(errno));
            break;
        }
        if (n == 0) continue;
        buffer[static_cast<size_t>(n)] = '\0';
        // Only the helper on this machine may steer the bridge.
        if ((ntohl(from.sin_addr.s_addr) >> 24) != 127) {
            char peer[INET_ADDRSTRLEN] = "?";
            inet_ntop(AF_INET, &from.sin_addr, peer, sizeof peer);
            LOGOUT("slide bridge: datagram from %s dropped", peer);
            continue;
        }
        const std::string text(buffer.data(), static_cast<size_t>(n));
        LOGOUT("%s", text.c_str());
        handleDatagram(text);
    }
}

void SlideBridge::handleDatagram(const std::string& text) {
    Json::Value m;
    if (!parseObject(text, m)) return;
    try {
        const std::string cmd = m["cmd"].asString();
        if (cmd == "rep-open") {
            std::lock_guard<std::mutex> lock(openMutex_);
            openOk_ = m["ret"].asInt() > 0;
            openSignalled_ = true;
            openCv_.notify_all();
        } else if (cmd == "notify-slide-changed") {
            const int cur = m["curSlide"].asInt();
            const int total = m["totalPages"].asInt();
            Json::Value out(Json::objectValue);
            out[field::action] = 4;
            out[field::slideIndex] = cur;
            out[field::slideCount] = total;
            broadcastPpt(out);
            if (total > 0) slideCount_ = total;
            if (cur >= 0) curSlide_ = cur;
        } else if (cmd == "notify-ppt-attached") {
            if (!m.isMember("filePath")) return;
            std::string key;
            if (!support::getMd5(m["filePath"].asString(), key)) return;
            support::mkdir(deps_.cacheDir);
            Json::Value out(Json::objectValue);
            out["cmd"] = "get-image";
            out["dir"] = deps_.cacheDir;
            out["md5"] = key;
            sendToHelper(out);
        } else if (cmd == "notify-fullscreen") {
            raiseShowWindow();
        } else if (cmd == "rep-get-slide-index") {
            Json::Value out(Json::objectValue);
            out[field::action] = 5;
            out[field::slideIndex] = m["curSlide"].asInt();
            out[field::slideCount] = m["totalPages"].asInt();
            broadcastPpt(out);
        } else if (cmd == "rep-get-image") {
            const int count = m["ret"].asInt();
            const std::string key = m["md5"].asString();
            if (count <= 0) return;
            if (!validImageKey(key)) {
                LOGOUT("slide bridge: image key dropped");
                return;
            }
            Json::Value urls(Json::arrayValue);
            char name[96];
            for (int i = 0; i < std::min(count, kMaxImages); ++i) {
                std::snprintf(name, sizeof name, "%s_%03d.png", key.c_str(), i);
                urls.append(imageUrl(name));
            }
            Json::Value out(Json::objectValue);
            out[field::action] = 2;
            out[field::urls] = urls;
            broadcastPpt(out);
        } else if (cmd == "notify-quit") {
            Json::Value out(Json::objectValue);
            out[field::action] = 3;
            broadcastPpt(out);
            curSlide_ = 0;
            slideCount_ = 0;
        }
    } catch (const std::exception& e) {
        LOGOUT("slide bridge: datagram with a field of the wrong type dropped");
    }
}

void SlideBridge::sendToHelper(const Json::Value& message) {
    if (stopping_ || socket_ < 0) return;
    const std::string text = compact(message);
    const sockaddr_in to = makeAddress(helperAddress_, deps_.helperPort);
    for (int attempt = 0; attempt < 100 && !stopping_; ++attempt) {
        const ssize_t n = ::sendto(socket_, text.data(), text.size(), MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return;
        pollfd pfd{socket_, POLLOUT, 0};
        ::poll(&pfd, 1, 100);
    }
}

void SlideBridge::startShow() {
    Json::Value f5(Json::objectValue);
    f5["cmd"] = "f5";
    sendToHelper(f5);
    const int cur = curSlide_.load();
    if (cur > 0 && cur < slideCount_.load()) {
        sleepMs(50);
        Json::Value go(Json::objectValue);
        go["cmd"] = "goto";
        go["slide"] = cur;
        sendToHelper(go);
    }
    sleepMs(300);
    raiseShowWindow();
}

void SlideBridge::gotoSlide(int slideIndex) {
    Json::Value go(Json::objectValue);
    go["cmd"] = "goto";
    go["slide"] = slideIndex;
    sendToHelper(go);
}

void SlideBridge::openPresentation(const std::string& path) {
    Json::Value close(Json::objectValue);
    close["cmd"] = "close";
    sendToHelper(close);
    {
        // An answer left from an earlier request must not count for this one.
        std::lock_guard<std::mutex> lock(openMutex_);
        openSignalled_ = false;
    }
    Json::Value open(Json::objectValue);
    open["cmd"] = "open";
    open["file"] = path;
    sendToHelper(open);
    curSlide_ = 0;
    slideCount_ = 0;

    bool signalled = false, ok = false;
    {
        std::unique_lock<std::mutex> lock(openMutex_);
        openCv_.wait_for(lock, std::chrono::milliseconds(deps_.openWaitMs),
                         [this] { return openSignalled_ || stopping_.load(); });
        signalled = openSignalled_;
        ok = openOk_;
        openSignalled_ = false;
    }
    if (!signalled) {
        LOGOUT("slide helper did not answer for %s", path.c_str());
        return;
    }
    if (ok || stopping_) return;
    LOGOUT("slide helper could not open %s, opening it with the desktop", path.c_str());
    if (deps_.shellOpen) deps_.shellOpen(path);
    if (deps_.repair) deps_.repair();
}

void SlideBridge::publishSlides(const std::string& folder, const std::string& key) {
    // Names sort in slide order (key_000.png, key_001.png, ...); the
    // directory's own order is arbitrary.
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        const std::string prefix = key + "_";
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
                name.compare(name.size() - 4, 4, ".png") == 0)
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    if (!names.empty() && key.size() == 32) {
        Json::Value urls(Json::arrayValue);
        for (const std::string& name : names) urls.append(imageUrl(name));
        Json::Value out(Json::objectValue);
        out[field::action] = 2;
        out[field::urls] = urls;
        broadcastPpt(out);
        return;
    }
    Json::Value request(Json::objectValue);
    request["cmd"] = "get-image";
    request["dir"] = folder;
    request["md5"] = key;
    sendToHelper(request);
}

void SlideBridge::raiseShowWindow() {
    if (!deps_.raiser) return;
    std::vector<pid_t> pids;
    for (const support::ProcessInfo& p : support::findOwnProcesses(kPresentationProcess)) pids.push_back(p.pid);
    if (deps_.raiser->raiseFullScreenWindowOf(pids)) LOGOUT("slide show window raised");
}

void SlideBridge::broadcastPpt(Json::Value message) {
    if (deps_.broadcast) deps_.broadcast(message);
}

std::string SlideBridge::imageUrl(const std::string& fileName) const {
    const std::string address = deps_.serverAddress ? deps_.serverAddress() : std::string();
    return "http://" + address + ":" + std::to_string(kHttpPort) + "/.temp/" + fileName;
}

}  // namespace slides
