// The desktop portal's ScreenCast and RemoteDesktop sessions, for Wayland
// desktops other than GNOME (and GNOME when asked for). The screen's session
// keeps its consent with persist mode 2: the restore token the portal returns
// is handed to the settings and given back at the next start, so the teacher
// is asked once. The RemoteDesktop portal on Debian 12 keeps no consent: it
// asks at every start. Both are set up on a thread of their own, since each
// step waits for the portal's Response signal, and a consent dialog waits
// for the teacher.
#include "platform/gnome_remote.h"
#include "platform/linux/dbus_call.h"
#include "support/logger.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr const char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr const char kScreenCast[] = "org.freedesktop.portal.ScreenCast";
constexpr const char kRemoteDesktop[] = "org.freedesktop.portal.RemoteDesktop";
constexpr const char kRequest[] = "org.freedesktop.portal.Request";
constexpr const char kSession[] = "org.freedesktop.portal.Session";

constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kCursorEmbedded = 2;
constexpr uint32_t kCursorMetadata = 4;
constexpr uint32_t kDevicesKeyboardPointer = 3;
constexpr uint32_t kPersistUntilRevoked = 2;
// How long a request may go unanswered before the teacher is said to be
// asked: a kept consent answers at once.
constexpr int kConsentShownMs = 700;
// How long a button waits after a pointer move.
constexpr int kMotionSettleMs = 40;

// What a request's Response carried that this code uses.
struct Response {
    bool answered = false;
    uint32_t code = 2;  // 0 granted, 1 cancelled by the user, 2 other
    std::string sessionHandle;
    std::string restoreToken;
    uint32_t nodeId = 0;
    uint32_t devices = ~0u;  // what remote input the teacher allowed; all when not said
};

// Reads the results dictionary of a Response (a{sv}).
void readResults(DBusMessageIter* dict, Response& out) {
    if (dbus_message_iter_get_arg_type(dict) != DBUS_TYPE_ARRAY) return;
    DBusMessageIter entries;
    dbus_message_iter_recurse(dict, &entries);
    for (; dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&entries)) {
        DBusMessageIter entry, value;
        dbus_message_iter_recurse(&entries, &entry);
        if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) continue;
        const char* key = nullptr;
        dbus_message_iter_get_basic(&entry, &key);
        dbus_message_iter_next(&entry);
        if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_VARIANT) continue;
        dbus_message_iter_recurse(&entry, &value);
        const int type = dbus_message_iter_get_arg_type(&value);
        const std::string name = key ? key : "";
        if ((name == "session_handle" || name == "restore_token") &&
            (type == DBUS_TYPE_STRING || type == DBUS_TYPE_OBJECT_PATH)) {
            const char* text = nullptr;
            dbus_message_iter_get_basic(&value, &text);
            (name == "session_handle" ? out.sessionHandle : out.restoreToken) = text ? text : "";
        } else if (name == "devices" && type == DBUS_TYPE_UINT32) {
            dbus_message_iter_get_basic(&value, &out.devices);
        } else if (name == "streams" && type == DBUS_TYPE_ARRAY) {
            // a(ua{sv}): the first stream's node.
            DBusMessageIter streams, stream;
            dbus_message_iter_recurse(&value, &streams);
            if (dbus_message_iter_get_arg_type(&streams) != DBUS_TYPE_STRUCT) continue;
            dbus_message_iter_recurse(&streams, &stream);
            if (dbus_message_iter_get_arg_type(&stream) == DBUS_TYPE_UINT32)
                dbus_message_iter_get_basic(&stream, &out.nodeId);
        }
    }
}

class PortalRemoteSession : public RemoteScreenSession {
public:
    explicit PortalRemoteSession(PortalHooks hooks) : hooks_(std::move(hooks)) {}

    ~PortalRemoteSession() override {
        stopping_ = true;
        wake_.notify_all();
        if (worker_.joinable()) worker_.join();
        std::lock_guard<std::mutex> lock(bus_.mutex());
        for (const std::string* session : {&castSession_, &inputSession_})
            if (!session->empty())
                bus_.send(dbus_message_new_method_call(kPortalName, session->c_str(), kSession, "Close"));
        // No log line: this may run as the program's statics go.
        if (waiting_ && hooks_.consentWaiting) hooks_.consentWaiting(false);
    }

    bool begin() {
        {
            std::lock_guard<std::mutex> lock(bus_.mutex());
            if (!bus_.connect()) return false;
            const char* unique = dbus_bus_get_unique_name(bus_.connection());
            // The portal names request objects after the caller: ":1.42" → "1_42".
            for (const char* c = unique ? unique : ""; *c; ++c)
                if (*c != ':') sender_ += (*c == '.') ? '_' : *c;
            bool portal = false;
            for (const std::string& name : bus_.listNames()) portal = portal || name == kPortalName;
            if (!portal) {
                // The portal may be started on demand by the bus.
                dbus_uint32_t result = 0;
                DBusError error;
                dbus_error_init(&error);
                portal = dbus_bus_start_service_by_name(bus_.connection(), kPortalName, 0, &result, &error);
                dbus_error_free(&error);
            }
            if (!portal) {
                LOGOUT("desktop portal: not on the session bus");
                return false;
            }
            const std::string closed = std::string("type='signal',interface='") + kSession + "',member='Closed'";
            dbus_bus_add_match(bus_.connection(), closed.c_str(), nullptr);
        }
        worker_ = std::thread([this] { run(); });
        return true;
    }

    bool ensureStarted() override { return castGeneration_.load() != 0 && castRunning_.load(); }
    uint32_t nodeId() const override { return nodeId_.load(); }
    uint64_t generation() override { return castRunning_.load() ? castGeneration_.load() : 0; }

    int openPipeWireRemote() override {
        std::lock_guard<std::mutex> lock(bus_.mutex());
        if (castSession_.empty()) return -1;
        DBusMessage* msg = dbus_message_new_method_call(kPortalName, kPortalPath, kScreenCast, "OpenPipeWireRemote");
        DBusMessageIter args;
        dbus_message_iter_init_append(msg, &args);
        const char* path = castSession_.c_str();
        dbus_message_iter_append_basic(&args, DBUS_TYPE_OBJECT_PATH, &path);
        appendDict(&args, {});
        DBusMessage* reply = bus_.call(msg, "ScreenCast.OpenPipeWireRemote");
        if (!reply) return -1;
        int fd = -1;
        if (!dbus_message_get_args(reply, nullptr, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID)) fd = -1;
        dbus_message_unref(reply);
        return fd;
    }

    // The portal has no absolute motion without a stream of its own input
    // session: the pointer is pushed into the bottom right corner (where
    // desktops put no hot corner), then moved back by the difference. Each
    // move starts from the corner, so neither the teacher's own mouse nor a
    // step the compositor dropped leaves the pointer off.
    void pointerAbsolute(double x, double y, int width, int height) override {
        if (!inputReady_ || width <= 0 || height <= 0) return;
        pointerRelative(100000, 100000);
        pointerRelative(x - (width - 1), y - (height - 1));
    }
    void pointerRelative(double dx, double dy) override {
        if (!inputReady_) return;
        lastMotion_ = std::chrono::steady_clock::now();
        inputCall("NotifyPointerMotion", [&](DBusMessageIter* args) {
            dbus_message_iter_append_basic(args, DBUS_TYPE_DOUBLE, &dx);
            dbus_message_iter_append_basic(args, DBUS_TYPE_DOUBLE, &dy);
        });
    }
    void pointerButton(int32_t evdevButton, bool pressed) override {
        if (!inputReady_) return;
        // The portal passes motion and buttons on separately: a button right
        // after a move could overtake it and land where the pointer was.
        const auto settled = lastMotion_ + std::chrono::milliseconds(kMotionSettleMs);
        if (std::chrono::steady_clock::now() < settled) std::this_thread::sleep_until(settled);
        const uint32_t state = pressed ? 1 : 0;
        inputCall("NotifyPointerButton", [&](DBusMessageIter* args) {
            dbus_message_iter_append_basic(args, DBUS_TYPE_INT32, &evdevButton);
            dbus_message_iter_append_basic(args, DBUS_TYPE_UINT32, &state);
        });
    }
    void pointerAxisDiscrete(uint32_t axis, int32_t steps) override {
        if (!inputReady_) return;
        inputCall("NotifyPointerAxisDiscrete", [&](DBusMessageIter* args) {
            dbus_message_iter_append_basic(args, DBUS_TYPE_UINT32, &axis);
            dbus_message_iter_append_basic(args, DBUS_TYPE_INT32, &steps);
        });
    }
    void keyboardKeycode(uint32_t keycode, bool pressed) override {
        if (!inputReady_) return;
        const int32_t code = int32_t(keycode);
        const uint32_t state = pressed ? 1 : 0;
        inputCall("NotifyKeyboardKeycode", [&](DBusMessageIter* args) {
            dbus_message_iter_append_basic(args, DBUS_TYPE_INT32, &code);
            dbus_message_iter_append_basic(args, DBUS_TYPE_UINT32, &state);
        });
    }

private:
    void inputCall(const char* method, const std::function<void(DBusMessageIter*)>& append) {
        std::lock_guard<std::mutex> lock(bus_.mutex());
        if (inputSession_.empty()) return;
        DBusMessage* msg = dbus_message_new_method_call(kPortalName, kPortalPath, kRemoteDesktop, method);
        DBusMessageIter args;
        dbus_message_iter_init_append(msg, &args);
        const char* path = inputSession_.c_str();
        dbus_message_iter_append_basic(&args, DBUS_TYPE_OBJECT_PATH, &path);
        appendDict(&args, {});
        append(&args);
        bus_.send(msg);
    }

    void setWaiting(bool waiting) {
        if (waiting == waiting_) return;
        waiting_ = waiting;
        LOGOUT(waiting ? "desktop portal: waiting for the teacher's consent" : "desktop portal: consent answered");
        if (hooks_.consentWaiting) hooks_.consentWaiting(waiting);
    }

    // Calls a portal method whose answer comes as a Response signal on a
    // request object, and waits for that (without end while a dialog is
    // up; the program's end stops the wait). The session path and the
    // parent window go before the options, which get the handle token.
    Response request(const char* iface, const char* method, const std::string& session,
                     std::vector<DictEntry> options, const char* parentWindow = nullptr) {
        Response response;
        const std::string token = "lumacro" + std::to_string(++tokens_);
        const std::string path = std::string(kPortalPath) + "/request/" + sender_ + "/" + token;
        const std::string match = std::string("type='signal',interface='") + kRequest +
                                  "',member='Response',path='" + path + "'";
        options.push_back({"handle_token", 's', token});
        {
            std::lock_guard<std::mutex> lock(bus_.mutex());
            dbus_bus_add_match(bus_.connection(), match.c_str(), nullptr);
            DBusMessage* msg = dbus_message_new_method_call(kPortalName, kPortalPath, iface, method);
            DBusMessageIter args;
            dbus_message_iter_init_append(msg, &args);
            if (!session.empty()) {
                const char* s = session.c_str();
                dbus_message_iter_append_basic(&args, DBUS_TYPE_OBJECT_PATH, &s);
            }
            if (parentWindow) dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parentWindow);
            appendDict(&args, options);
            DBusMessage* reply = bus_.call(msg, method);
            if (!reply) {
                dbus_bus_remove_match(bus_.connection(), match.c_str(), nullptr);
                return response;
            }
            dbus_message_unref(reply);
        }
        const auto sent = std::chrono::steady_clock::now();
        while (!stopping_ && !response.answered) {
            {
                std::lock_guard<std::mutex> lock(bus_.mutex());
                DBusConnection* conn = bus_.connection();
                if (!dbus_connection_read_write(conn, 100)) break;
                while (DBusMessage* msg = dbus_connection_pop_message(conn)) {
                    const char* at = dbus_message_get_path(msg);
                    if (dbus_message_is_signal(msg, kRequest, "Response") && at && path == at) {
                        DBusMessageIter it;
                        if (dbus_message_iter_init(msg, &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_UINT32) {
                            dbus_message_iter_get_basic(&it, &response.code);
                            dbus_message_iter_next(&it);
                            readResults(&it, response);
                        }
                        response.answered = true;
                    } else {
                        noteClosed(msg);
                    }
                    dbus_message_unref(msg);
                }
            }
            if (!response.answered && std::chrono::steady_clock::now() - sent > std::chrono::milliseconds(kConsentShownMs))
                setWaiting(true);
        }
        {
            std::lock_guard<std::mutex> lock(bus_.mutex());
            dbus_bus_remove_match(bus_.connection(), match.c_str(), nullptr);
        }
        setWaiting(false);
        return response;
    }

    void noteClosed(DBusMessage* msg) {
        const char* at = dbus_message_get_path(msg);
        if (!at || !dbus_message_is_signal(msg, kSession, "Closed")) return;
        if (castSession_ == at) {
            LOGOUT("desktop portal: screen sharing session closed");
            castRunning_ = false;
            castSession_.clear();
        } else if (inputSession_ == at) {
            LOGOUT("desktop portal: remote input session closed");
            inputReady_ = false;
            inputSession_.clear();
        }
    }

    void setSession(std::string& which, const std::string& handle) {
        std::lock_guard<std::mutex> lock(bus_.mutex());
        which = handle;
    }

    uint32_t cursorMode() {
        DBusMessage* get = dbus_message_new_method_call(kPortalName, kPortalPath, "org.freedesktop.DBus.Properties", "Get");
        const char* iface = kScreenCast;
        const char* prop = "AvailableCursorModes";
        dbus_message_append_args(get, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &prop, DBUS_TYPE_INVALID);
        std::lock_guard<std::mutex> lock(bus_.mutex());
        DBusMessage* reply = bus_.call(get, "ScreenCast AvailableCursorModes");
        uint32_t modes = 0;
        DBusMessageIter it, variant;
        if (reply && dbus_message_iter_init(reply, &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_VARIANT) {
            dbus_message_iter_recurse(&it, &variant);
            if (dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_UINT32) dbus_message_iter_get_basic(&variant, &modes);
        }
        if (reply) dbus_message_unref(reply);
        // The grabber draws the cursor from metadata; else the compositor does.
        return (modes & kCursorMetadata) ? kCursorMetadata : kCursorEmbedded;
    }

    // Closes a session this side gave up on (the portal keeps it otherwise).
    void closeSession(std::string& which) {
        std::lock_guard<std::mutex> lock(bus_.mutex());
        if (!which.empty()) bus_.send(dbus_message_new_method_call(kPortalName, which.c_str(), kSession, "Close"));
        which.clear();
    }

    bool startCast() {
        Response created = request(kScreenCast, "CreateSession", "", {{"session_handle_token", 's', "lumacrocast"}});
        if (created.code != 0 || created.sessionHandle.empty()) {
            LOGOUT("desktop portal: ScreenCast.CreateSession refused (%u)", created.code);
            return false;
        }
        setSession(castSession_, created.sessionHandle);
        std::vector<DictEntry> select = {{"types", 'u', "", kSourceMonitor},
                                      {"multiple", 'b', "", 0},
                                      {"cursor_mode", 'u', "", cursorMode()},
                                      {"persist_mode", 'u', "", kPersistUntilRevoked}};
        const std::string token = hooks_.loadRestoreToken ? hooks_.loadRestoreToken() : std::string();
        if (!token.empty()) select.push_back({"restore_token", 's', token});
        Response selected = request(kScreenCast, "SelectSources", castSession_, select);
        if (selected.code != 0) {
            LOGOUT("desktop portal: ScreenCast.SelectSources refused (%u)", selected.code);
            closeSession(castSession_);
            if (hooks_.saveRestoreToken) hooks_.saveRestoreToken("");
            return false;
        }
        Response started = request(kScreenCast, "Start", castSession_, {}, "");
        if (started.code != 0 || started.nodeId == 0) {
            LOGOUT("desktop portal: screen sharing %s", started.code == 1 ? "declined" : "failed");
            closeSession(castSession_);
            // Not asked again until the next start: the token is spent (the
            // portal answers a cancelled dialog with 1 or 2 depending on the
            // desktop), so the tries of a stopped sharing end here too.
            if (hooks_.saveRestoreToken) hooks_.saveRestoreToken("");
            return false;
        }
        // Each start hands out a new token; the old one is spent.
        if (!started.restoreToken.empty() && hooks_.saveRestoreToken) hooks_.saveRestoreToken(started.restoreToken);
        nodeId_ = started.nodeId;
        castRunning_ = true;
        ++castGeneration_;
        LOGOUT("desktop portal: screen sharing started, PipeWire node %u", started.nodeId);
        return true;
    }

    bool startInput() {
        Response created = request(kRemoteDesktop, "CreateSession", "", {{"session_handle_token", 's', "lumacroinput"}});
        if (created.code != 0 || created.sessionHandle.empty()) return false;
        setSession(inputSession_, created.sessionHandle);
        if (request(kRemoteDesktop, "SelectDevices", inputSession_, {{"types", 'u', "", kDevicesKeyboardPointer}}).code != 0) {
            closeSession(inputSession_);
            return false;
        }
        Response started = request(kRemoteDesktop, "Start", inputSession_, {}, "");
        if (started.code != 0) {
            LOGOUT("desktop portal: remote input %s", started.code == 1 ? "declined" : "failed");
            closeSession(inputSession_);
            return false;
        }
        if ((started.devices & kDevicesKeyboardPointer) == 0) {
            LOGOUT("desktop portal: remote interaction not allowed: the phones cannot drive this PC");
            closeSession(inputSession_);
            return false;
        }
        inputReady_ = true;
        LOGOUT("desktop portal: remote input started");
        return true;
    }

    // Starts the screen, then the input; afterwards watches for the portal
    // closing the screen's session and starts it again with the kept token
    // (no dialog), at most every few seconds. Input closed stays closed: a
    // new start would put a dialog in front of the class unasked.
    void run() {
        startCast();
        if (!stopping_) startInput();
        auto lastTry = std::chrono::steady_clock::now();
        while (!stopping_) {
            {
                std::unique_lock<std::mutex> wait(wakeMutex_);
                wake_.wait_for(wait, std::chrono::milliseconds(200), [this] { return stopping_.load(); });
            }
            if (stopping_) break;
            {
                std::lock_guard<std::mutex> lock(bus_.mutex());
                DBusConnection* conn = bus_.connection();
                dbus_connection_read_write(conn, 0);
                while (DBusMessage* msg = dbus_connection_pop_message(conn)) {
                    noteClosed(msg);
                    dbus_message_unref(msg);
                }
            }
            // Only a sharing that ran is started again, and only with a token.
            if (!castRunning_.load() && castGeneration_.load() > 0 &&
                std::chrono::steady_clock::now() - lastTry > std::chrono::seconds(5) &&
                hooks_.loadRestoreToken && !hooks_.loadRestoreToken().empty()) {
                lastTry = std::chrono::steady_clock::now();
                startCast();
            }
        }
    }

    PortalHooks hooks_;
    DBusLink bus_;
    std::string sender_;
    std::string castSession_;   // both guarded by the bus mutex
    std::string inputSession_;
    unsigned tokens_ = 0;
    std::atomic<uint32_t> nodeId_{0};
    std::atomic<uint64_t> castGeneration_{0};
    std::atomic<bool> castRunning_{false};
    std::atomic<bool> inputReady_{false};
    std::atomic<bool> stopping_{false};
    bool waiting_ = false;
    // The last move; the injector's calls come from one thread at a time.
    std::chrono::steady_clock::time_point lastMotion_{};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::thread worker_;
};

}  // namespace

std::shared_ptr<RemoteScreenSession> openPortalRemoteSession(PortalHooks hooks) {
    auto session = std::make_shared<PortalRemoteSession>(std::move(hooks));
    if (!session->begin()) return nullptr;
    return session;
}

}  // namespace platform
