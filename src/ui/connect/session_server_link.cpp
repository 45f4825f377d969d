#include "ui/connect/session_server_link.h"

#include "net/session_server.h"

namespace ui::welcome {

SessionServerLink::SessionServerLink(net::SessionServer& server, std::function<bool(uint32_t)> start)
    : server_(server), start_(std::move(start)) {}

bool SessionServerLink::isListening() { return server_.isRunning(); }

uint32_t SessionServerLink::boundAddress() { return server_.boundAddress(); }

bool SessionServerLink::startOn(uint32_t address) { return start_ && start_(address); }

void SessionServerLink::disconnectAll() { server_.disconnectAll(); }

}  // namespace ui::welcome
