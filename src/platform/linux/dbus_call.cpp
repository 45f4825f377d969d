#include "platform/linux/dbus_call.h"

#include "support/logger.h"

namespace platform {

DBusLink::~DBusLink() {
    if (conn_) {
        dbus_connection_close(conn_);
        dbus_connection_unref(conn_);
    }
}

bool DBusLink::connect() {
    if (conn_) return true;
    // Several connections live on different threads (detection, the mutter
    // session): libdbus's own state must be locked.
    dbus_threads_init_default();
    DBusError error;
    dbus_error_init(&error);
    conn_ = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!conn_) {
        LOGOUT("session bus: %s", error.message ? error.message : "not available");
        dbus_error_free(&error);
        return false;
    }
    // The process must not end when the bus goes away.
    dbus_connection_set_exit_on_disconnect(conn_, FALSE);
    return true;
}

std::vector<std::string> DBusLink::listNames() {
    std::vector<std::string> names;
    DBusMessage* msg = dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                    "org.freedesktop.DBus", "ListNames");
    DBusMessage* reply = call(msg, "ListNames");
    if (!reply) return names;
    DBusMessageIter it, array;
    if (dbus_message_iter_init(reply, &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_ARRAY) {
        dbus_message_iter_recurse(&it, &array);
        while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING) {
            const char* name = nullptr;
            dbus_message_iter_get_basic(&array, &name);
            if (name) names.emplace_back(name);
            dbus_message_iter_next(&array);
        }
    }
    dbus_message_unref(reply);
    return names;
}

DBusMessage* DBusLink::call(DBusMessage* msg, const char* what, int timeoutMs) {
    if (!msg) return nullptr;
    if (!conn_) {
        dbus_message_unref(msg);
        return nullptr;
    }
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(conn_, msg, timeoutMs, &error);
    dbus_message_unref(msg);
    if (!reply) {
        LOGOUT("D-Bus %s failed: %s", what, error.message ? error.message : "no reply");
        dbus_error_free(&error);
    }
    return reply;
}

bool DBusLink::send(DBusMessage* msg) {
    if (!msg) return false;
    bool ok = false;
    if (conn_) {
        dbus_message_set_no_reply(msg, TRUE);
        ok = dbus_connection_send(conn_, msg, nullptr);
        dbus_connection_flush(conn_);
    }
    dbus_message_unref(msg);
    return ok;
}

std::string DBusLink::takeFirstString(DBusMessage* reply) {
    std::string out;
    if (!reply) return out;
    DBusMessageIter it;
    if (dbus_message_iter_init(reply, &it)) {
        int type = dbus_message_iter_get_arg_type(&it);
        if (type == DBUS_TYPE_VARIANT) {
            DBusMessageIter inner;
            dbus_message_iter_recurse(&it, &inner);
            it = inner;
            type = dbus_message_iter_get_arg_type(&it);
        }
        if (type == DBUS_TYPE_OBJECT_PATH || type == DBUS_TYPE_STRING) {
            const char* s = nullptr;
            dbus_message_iter_get_basic(&it, &s);
            if (s) out = s;
        }
    }
    dbus_message_unref(reply);
    return out;
}

void appendDict(DBusMessageIter* args, const std::vector<DictEntry>& entries) {
    DBusMessageIter dict;
    dbus_message_iter_open_container(args, DBUS_TYPE_ARRAY, "{sv}", &dict);
    for (const DictEntry& e : entries) {
        DBusMessageIter entry, variant;
        dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &e.key);
        const char signature[2] = {e.type, 0};
        dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
        if (e.type == 's') {
            const char* text = e.text.c_str();
            dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &text);
        } else if (e.type == 'b') {
            dbus_bool_t b = e.number != 0;
            dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &b);
        } else {
            dbus_message_iter_append_basic(&variant, DBUS_TYPE_UINT32, &e.number);
        }
        dbus_message_iter_close_container(&entry, &variant);
        dbus_message_iter_close_container(&dict, &entry);
    }
    dbus_message_iter_close_container(args, &dict);
}

}  // namespace platform
