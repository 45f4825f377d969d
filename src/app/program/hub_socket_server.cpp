#include "app/program/hub_socket_server.h"

#include "app/program/hub_link.h"
#include "core/main_hub.h"
#include "support/logger.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QVariant>

#include <unistd.h>

namespace app {

namespace {
// A peer has no reason to send more than a few records.
constexpr qint64 kMaxBytesPerConnection = 64 * kHubRecordSize;
}  // namespace

HubSocketServer::HubSocketServer(core::MainHub& hub, QObject* parent)
    : QObject(parent), hub_(hub), server_(std::make_unique<QLocalServer>()) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, [this] { accept(); });
}

HubSocketServer::~HubSocketServer() { close(); }

bool HubSocketServer::listen(const std::string& path) {
    if (path.empty()) return false;
    QLocalServer::removeServer(QString::fromStdString(path));
    if (!server_->listen(QString::fromStdString(path))) {
        LOGOUT("hub socket: cannot listen on %s: %s", path.c_str(),
               server_->errorString().toStdString().c_str());
        return false;
    }
    path_ = path;
    return true;
}

void HubSocketServer::close() {
    if (!server_->isListening()) return;
    server_->close();
    if (!path_.empty()) ::unlink(path_.c_str());
}

void HubSocketServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->setProperty("received", 0);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readFrom(socket);
    }
}

void HubSocketServer::readFrom(QLocalSocket* socket) {
    while (socket->bytesAvailable() >= static_cast<qint64>(kHubRecordSize)) {
        qint64 received = socket->property("received").toLongLong() + kHubRecordSize;
        socket->setProperty("received", received);
        if (received > kMaxBytesPerConnection) {
            LOGOUT("hub socket: too much data, connection closed");
            socket->abort();
            return;
        }
        uint8_t bytes[kHubRecordSize];
        socket->read(reinterpret_cast<char*>(bytes), sizeof bytes);
        const HubRecord record = decodeHubRecord(bytes);
        if (!isHubSocketMessage(record.message)) {
            LOGOUT("hub socket: message 0x%x ignored", record.message);
            continue;
        }
        hub_.post(record.message, record.wParam, record.lParam);
    }
}

}  // namespace app
