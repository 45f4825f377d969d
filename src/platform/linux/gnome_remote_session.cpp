#include "platform/linux/gnome_remote_session.h"

#include "support/logger.h"

#include <chrono>

namespace platform {

namespace {

constexpr const char kRemoteName[] = "org.gnome.Mutter.RemoteDesktop";
constexpr const char kRemoteSession[] = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char kCastName[] = "org.gnome.Mutter.ScreenCast";
constexpr const char kCastSession[] = "org.gnome.Mutter.ScreenCast.Session";
constexpr const char kCastStream[] = "org.gnome.Mutter.ScreenCast.Stream";
// The cursor comes as stream metadata: the grabber draws it when asked.
constexpr uint32_t kCursorMetadata = 2;

}  // namespace

GnomeRemoteSession::~GnomeRemoteSession() {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    if (started_) bus_.send(sessionCall("Stop"));
}

DBusMessage* GnomeRemoteSession::sessionCall(const char* method) {
    return dbus_message_new_method_call(kRemoteName, remotePath_.c_str(), kRemoteSession, method);
}

bool GnomeRemoteSession::start() {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    return startLocked();
}

bool GnomeRemoteSession::ensureStarted() {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    return ensureStartedLocked();
}

bool GnomeRemoteSession::ensureStartedLocked() {
    pollClosedLocked();
    if (started_) return true;
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch()).count();
    if (now - lastAttemptMs_ < 2000) return false;
    lastAttemptMs_ = now;
    LOGOUT("mutter remote desktop session: starting again");
    return startLocked();
}

uint64_t GnomeRemoteSession::generation() {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    pollClosedLocked();
    return started_ ? generation_ : 0;
}

void GnomeRemoteSession::stop() {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    if (!started_) return;
    DBusMessage* reply = bus_.call(sessionCall("Stop"), "RemoteDesktop.Stop");
    if (reply) dbus_message_unref(reply);
}

void GnomeRemoteSession::pollClosedLocked() {
    DBusConnection* conn = bus_.connection();
    if (!started_ || !conn) return;
    dbus_connection_read_write(conn, 0);
    while (DBusMessage* msg = dbus_connection_pop_message(conn)) {
        const char* path = dbus_message_get_path(msg);
        if (dbus_message_is_signal(msg, kRemoteSession, "Closed") && path && remotePath_ == path) {
            started_ = false;
            LOGOUT("mutter remote desktop session closed");
        }
        dbus_message_unref(msg);
    }
    if (!dbus_connection_get_is_connected(conn)) started_ = false;
}

bool GnomeRemoteSession::startLocked() {
    if (!bus_.connect()) return false;
    started_ = false;
    nodeId_ = 0;
    if (!closedMatch_.empty()) dbus_bus_remove_match(bus_.connection(), closedMatch_.c_str(), nullptr);
    closedMatch_.clear();

    remotePath_ = DBusLink::takeFirstString(bus_.call(
        dbus_message_new_method_call(kRemoteName, "/org/gnome/Mutter/RemoteDesktop", kRemoteName,
                                     "CreateSession"),
        "RemoteDesktop.CreateSession"));
    if (remotePath_.empty()) return false;
    closedMatch_ = std::string("type='signal',interface='") + kRemoteSession + "',member='Closed',path='" +
                   remotePath_ + "'";
    dbus_bus_add_match(bus_.connection(), closedMatch_.c_str(), nullptr);

    DBusMessage* get = dbus_message_new_method_call(kRemoteName, remotePath_.c_str(),
                                                    "org.freedesktop.DBus.Properties", "Get");
    const char* iface = kRemoteSession;
    const char* prop = "SessionId";
    dbus_message_append_args(get, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &prop, DBUS_TYPE_INVALID);
    const std::string sessionId = DBusLink::takeFirstString(bus_.call(get, "RemoteDesktop SessionId"));
    if (sessionId.empty()) return false;

    DBusMessage* create = dbus_message_new_method_call(kCastName, "/org/gnome/Mutter/ScreenCast", kCastName,
                                                       "CreateSession");
    DBusMessageIter args;
    dbus_message_iter_init_append(create, &args);
    appendDict(&args, {{"remote-desktop-session-id", 's', sessionId}});
    castPath_ = DBusLink::takeFirstString(bus_.call(create, "ScreenCast.CreateSession"));
    if (castPath_.empty()) return false;

    // An empty connector records the primary monitor.
    DBusMessage* record = dbus_message_new_method_call(kCastName, castPath_.c_str(), kCastSession,
                                                       "RecordMonitor");
    dbus_message_iter_init_append(record, &args);
    const char* connector = "";
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &connector);
    appendDict(&args, {{"cursor-mode", 'u', "", kCursorMetadata}});
    streamPath_ = DBusLink::takeFirstString(bus_.call(record, "ScreenCast.RecordMonitor"));
    if (streamPath_.empty()) return false;

    const std::string match = std::string("type='signal',interface='") + kCastStream +
                              "',member='PipeWireStreamAdded',path='" + streamPath_ + "'";
    dbus_bus_add_match(bus_.connection(), match.c_str(), nullptr);

    DBusMessage* reply = bus_.call(sessionCall("Start"), "RemoteDesktop.Start");
    if (!reply) return false;
    dbus_message_unref(reply);
    started_ = true;

    const bool ok = waitForNode(5000);
    dbus_bus_remove_match(bus_.connection(), match.c_str(), nullptr);
    if (!ok) {
        LOGOUT("mutter screencast: no PipeWire stream");
        bus_.send(sessionCall("Stop"));
        started_ = false;
        return false;
    }
    ++generation_;
    LOGOUT("mutter remote desktop session started, PipeWire node %u", nodeId_.load());
    return true;
}

bool GnomeRemoteSession::waitForNode(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    DBusConnection* conn = bus_.connection();
    while (Clock::now() < end) {
        if (!dbus_connection_read_write(conn, 100)) return false;
        while (DBusMessage* msg = dbus_connection_pop_message(conn)) {
            if (dbus_message_is_signal(msg, kCastStream, "PipeWireStreamAdded") &&
                streamPath_ == (dbus_message_get_path(msg) ? dbus_message_get_path(msg) : "")) {
                dbus_uint32_t node = 0;
                if (dbus_message_get_args(msg, nullptr, DBUS_TYPE_UINT32, &node, DBUS_TYPE_INVALID)) nodeId_ = node;
            } else if (dbus_message_is_signal(msg, kRemoteSession, "Closed")) {
                LOGOUT("mutter remote desktop session closed while starting");
            }
            dbus_message_unref(msg);
        }
        if (nodeId_) return true;
    }
    return false;
}

void GnomeRemoteSession::pointerAbsolute(double x, double y, int, int) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    if (!ensureStartedLocked()) return;
    DBusMessage* msg = sessionCall("NotifyPointerMotionAbsolute");
    const char* stream = streamPath_.c_str();
    dbus_message_append_args(msg, DBUS_TYPE_STRING, &stream, DBUS_TYPE_DOUBLE, &x, DBUS_TYPE_DOUBLE, &y,
                             DBUS_TYPE_INVALID);
    bus_.send(msg);
}

void GnomeRemoteSession::pointerRelative(double dx, double dy) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    if (!ensureStartedLocked()) return;
    DBusMessage* msg = sessionCall("NotifyPointerMotionRelative");
    dbus_message_append_args(msg, DBUS_TYPE_DOUBLE, &dx, DBUS_TYPE_DOUBLE, &dy, DBUS_TYPE_INVALID);
    bus_.send(msg);
}

void GnomeRemoteSession::pointerButton(int32_t evdevButton, bool pressed) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    if (!ensureStartedLocked()) return;
    DBusMessage* msg = sessionCall("NotifyPointerButton");
    dbus_bool_t state = pressed;
    dbus_message_append_args(msg, DBUS_TYPE_INT32, &evdevButton, DBUS_TYPE_BOOLEAN, &state, DBUS_TYPE_INVALID);
    bus_.send(msg);
}

void GnomeRemoteSession::pointerAxisDiscrete(uint32_t axis, int32_t steps) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    if (!ensureStartedLocked()) return;
    DBusMessage* msg = sessionCall("NotifyPointerAxisDiscrete");
    dbus_message_append_args(msg, DBUS_TYPE_UINT32, &axis, DBUS_TYPE_INT32, &steps, DBUS_TYPE_INVALID);
    bus_.send(msg);
}

void GnomeRemoteSession::keyboardKeycode(uint32_t keycode, bool pressed) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    if (!ensureStartedLocked()) return;
    DBusMessage* msg = sessionCall("NotifyKeyboardKeycode");
    dbus_bool_t state = pressed;
    dbus_message_append_args(msg, DBUS_TYPE_UINT32, &keycode, DBUS_TYPE_BOOLEAN, &state, DBUS_TYPE_INVALID);
    bus_.send(msg);
}

std::shared_ptr<RemoteScreenSession> openGnomeRemoteSession() {
    auto session = std::make_shared<GnomeRemoteSession>();
    if (!session->start()) {
        LOGOUT("mutter remote desktop session not available");
        return nullptr;
    }
    return session;
}

}  // namespace platform
