// Files from the phones: pushed through the session (MsgFile) or named by a
// URL (MsgOpenURL), stored in the document folder's Recv and opened where the
// class sees them: pictures on the drawing board, presentations through the
// slide-show bridge, anything else with the desktop's default application.
// Messages arrive on the sending session's receive thread; downloads run on
// their own threads, checks and opening on the thread pool.
#pragma once

#include "net/session_types.h"
#include "transfer/file_opener.h"
#include "transfer/download.h"
#include "transfer/receive_table.h"
#include "core/features.h"
#include "core/main_hub.h"

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

namespace support {
class ThreadPool;
}

namespace transfer {

struct FileReceiverDeps {
    net::SessionPort* server = nullptr;       // answers to queries; bound address
    support::ThreadPool* threadPool = nullptr;  // null: the work runs on the caller's thread
    std::function<std::string()> docDir;
    FileOpener* opener = nullptr;             // default application; null: logged
    PresentationOpener* slides = nullptr;     // slide-show bridge; null: logged
    const core::Features* features = nullptr;   // read at each use (drawing board)
    DownloadLimits limits;
};

class FileReceiver : public core::FileReceiver {
public:
    // Downloads that may run at once; further URLs are dropped with a log line.
    static constexpr size_t kMaxDownloads = 8;

    explicit FileReceiver(FileReceiverDeps deps);
    // Ends running downloads, waits for running opens and joins every thread.
    ~FileReceiver() override;
    FileReceiver(const FileReceiver&) = delete;
    FileReceiver& operator=(const FileReceiver&) = delete;

    // Pictures go to the hub as UM_PAINTER once it exists.
    void setHub(core::MainHub* hub) { hub_.store(hub); }

    void fileMessage(int socket, int action, const Json::Value& message, const uint8_t* data,
                     size_t length) override;
    void openUrl(const std::string& url, int anim, bool local) override;
    // The controlling phone left: close every partial file and empty the table.
    void closeAll() override;

    // Opens one file on the PC by its extension.
    void openReceivedFile(const std::string& path);
    // A query: opens the copy in Recv when its MD5 matches, else broadcasts
    // the message back with action -1.
    void checkReceivedFile(const Json::Value& message);
    // Downloads into Recv and opens the result (body of a download thread).
    void downloadAndOpen(const std::string& url);

    std::string receiveFolder() const;
    ReceiveTable& table() { return table_; }
    // Blocks until every download thread started so far has ended.
    void waitForDownloads();

private:
    // Runs `job` on the pool (or here) unless the receiver is being destroyed.
    void schedule(std::function<void()> job);
    void runGuarded(const std::function<void()>& job);
    void reapDownloads(bool all);

    FileReceiverDeps deps_;
    std::atomic<core::MainHub*> hub_{nullptr};
    ReceiveTable table_;

    struct Guard {
        std::shared_mutex mutex;
        bool stopped = false;
    };
    std::shared_ptr<Guard> guard_ = std::make_shared<Guard>();
    std::atomic<bool> abort_{false};

    struct Download {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::mutex downloadsMutex_;
    std::list<Download> downloads_;
};

}  // namespace transfer
