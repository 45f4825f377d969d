// Listens on the hub socket and posts the records of other programs to the
// main hub (only the messages other programs may send).
#pragma once

#include <QObject>

#include <memory>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace core {
class MainHub;
}

namespace app {

class HubSocketServer : public QObject {
    Q_OBJECT
public:
    explicit HubSocketServer(core::MainHub& hub, QObject* parent = nullptr);
    ~HubSocketServer() override;
    // Replaces a stale socket file (the caller holds the single-instance lock).
    bool listen(const std::string& path);
    void close();

private:
    void accept();
    void readFrom(QLocalSocket* socket);

    core::MainHub& hub_;
    std::unique_ptr<QLocalServer> server_;
    std::string path_;
};

}  // namespace app
