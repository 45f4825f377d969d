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
    if (!bus_.connect()) return false;

    remotePath_ = DBusLink::takeFirstString(bus_.call(
        dbus_message_new_method_call(kRemoteName, "/org/gnome/Mutter/RemoteDesktop", kRemoteName,
                                     "CreateSession"),
        "RemoteDesktop.CreateSession"));
    if (remotePath_.empty()) return false;

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
    appendDict(&args, {{"remote-desktop-session-id", sessionId.c_str(), 0}});
    castPath_ = DBusLink::takeFirstString(bus_.call(create, "ScreenCast.CreateSession"));
    if (castPath_.empty()) return false;

    // An empty connector records the primary monitor.
    DBusMessage* record = dbus_message_new_method_call(kCastName, castPath_.c_str(), kCastSession,
                                                       "RecordMonitor");
    dbus_message_iter_init_append(record, &args);
    const char* connector = "";
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &connector);
    appendDict(&args, {{"cursor-mode", nullptr, kCursorMetadata}});
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
        return false;
    }
    LOGOUT("mutter remote desktop session started, PipeWire node %u", nodeId_);
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
            }
            dbus_message_unref(msg);
        }
        if (nodeId_) return true;
    }
    return false;
}

void GnomeRemoteSession::pointerAbsolute(double x, double y) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    DBusMessage* msg = sessionCall("NotifyPointerMotionAbsolute");
    const char* stream = streamPath_.c_str();
    dbus_message_append_args(msg, DBUS_TYPE_STRING, &stream, DBUS_TYPE_DOUBLE, &x, DBUS_TYPE_DOUBLE, &y,
                             DBUS_TYPE_INVALID);
    bus_.send(msg);
}

void GnomeRemoteSession::pointerRelative(double dx, double dy) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    DBusMessage* msg = sessionCall("NotifyPointerMotionRelative");
    dbus_message_append_args(msg, DBUS_TYPE_DOUBLE, &dx, DBUS_TYPE_DOUBLE, &dy, DBUS_TYPE_INVALID);
    bus_.send(msg);
}

void GnomeRemoteSession::pointerButton(int32_t evdevButton, bool pressed) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    DBusMessage* msg = sessionCall("NotifyPointerButton");
    dbus_bool_t state = pressed;
    dbus_message_append_args(msg, DBUS_TYPE_INT32, &evdevButton, DBUS_TYPE_BOOLEAN, &state, DBUS_TYPE_INVALID);
    bus_.send(msg);
}

void GnomeRemoteSession::pointerAxisDiscrete(uint32_t axis, int32_t steps) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    DBusMessage* msg = sessionCall("NotifyPointerAxisDiscrete");
    dbus_message_append_args(msg, DBUS_TYPE_UINT32, &axis, DBUS_TYPE_INT32, &steps, DBUS_TYPE_INVALID);
    bus_.send(msg);
}

void GnomeRemoteSession::keyboardKeycode(uint32_t keycode, bool pressed) {
    std::lock_guard<std::mutex> lock(bus_.mutex());
    DBusMessage* msg = sessionCall("NotifyKeyboardKeycode");
    dbus_bool_t state = pressed;
    dbus_message_append_args(msg, DBUS_TYPE_UINT32, &keycode, DBUS_TYPE_BOOLEAN, &state, DBUS_TYPE_INVALID);
    bus_.send(msg);
}

std::shared_ptr<GnomeRemoteSession> openGnomeRemoteSession() {
    auto session = std::make_shared<GnomeRemoteSession>();
    if (!session->start()) {
        LOGOUT("mutter remote desktop session not available");
        return nullptr;
    }
    return session;
}

}  // namespace platform
