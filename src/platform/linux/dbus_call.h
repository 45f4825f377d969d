// A private libdbus connection to the session bus with the few calls the
// Wayland backends make. One thread at a time: callers hold mutex().
#pragma once

#include <dbus/dbus.h>

#include <mutex>
#include <string>
#include <vector>

namespace platform {

class DBusLink {
public:
    DBusLink() = default;
    ~DBusLink();
    DBusLink(const DBusLink&) = delete;
    DBusLink& operator=(const DBusLink&) = delete;

    bool connect();
    DBusConnection* connection() { return conn_; }
    std::mutex& mutex() { return mutex_; }

    // The names on the bus; empty on failure.
    std::vector<std::string> listNames();

    // Sends `msg` (taken over) and waits for the reply; null when the call
    // failed (the error is logged with `what`).
    DBusMessage* call(DBusMessage* msg, const char* what, int timeoutMs = 5000);
    // Sends `msg` (taken over) without waiting for a reply.
    bool send(DBusMessage* msg);

    // Reads the object path (or string) in the first argument of `reply`,
    // then frees the reply. Empty when there is none.
    static std::string takeFirstString(DBusMessage* reply);

private:
    DBusConnection* conn_ = nullptr;
    std::mutex mutex_;
};

// Appends an a{sv} dictionary with string and uint32 entries.
// One a{sv} entry: a string, a uint32 or a boolean.
struct DictEntry {
    const char* key;
    char type;  // 's', 'u' or 'b'
    std::string text;
    uint32_t number = 0;
};
void appendDict(DBusMessageIter* args, const std::vector<DictEntry>& entries);

}  // namespace platform
