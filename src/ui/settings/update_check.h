// The update check of the about page: the update information from the
// product's update address, the comparison with the program's own version,
// and the installer download that runs in the background.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ui::settings {

// The program's own version, "major.minor.patch.tweak" from the build.
std::string programVersion();

// One HTTP(S) transfer of `url` into memory. False on any transfer error,
// on an HTTP error status, after `timeoutSeconds`, or when the answer is
// larger than `limit` bytes (update information is a few hundred bytes).
bool fetchToMemory(const std::string& url, std::string& body, long timeoutSeconds = 20,
                   size_t limit = 1024 * 1024);

struct UpdateInfo {
    std::string versionName;
    std::string dir;
};
// A JSON object with the strings "versionName" and "dir"; false otherwise.
bool parseUpdateInfo(const std::string& body, UpdateInfo& info);

struct UpdateCheck {
    enum Outcome {
        NoInformation,  // the fetch failed or the answer was not usable
        NoUpdate,       // the offered version is not newer
        Newer,          // installerUrl names the package to download
    } outcome = NoInformation;
    std::string versionName;
    std::string installerUrl;
};
// Fetches `updateUrl` and decides (blocking).
UpdateCheck checkForUpdate(const std::string& updateUrl, const std::string& ownVersion,
                           const std::string& productId);

// The folder downloads go to: "<temp>/Quorvel/Lumacro/Update".
std::string updateFolder();

// Downloads one installer at a time on its own thread. The owner outlives
// every download it started: its destructor stops a running download and
// waits for the thread.
class UpdateDownloader {
public:
    UpdateDownloader() = default;
    ~UpdateDownloader();
    UpdateDownloader(const UpdateDownloader&) = delete;
    UpdateDownloader& operator=(const UpdateDownloader&) = delete;

    // True while a download runs.
    bool downloading() const { return downloading_.load(); }
    // Starts the download of `url` into `path`; `done(success)` runs on the
    // download thread when it ends (not after a stop). False when one runs.
    bool start(const std::string& url, const std::string& path, std::function<void(bool)> done);

private:
    std::atomic<bool> downloading_{false};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::thread thread_;
};

}  // namespace ui::settings
