// Blocking HTTP and FTP downloads into a file with libcurl.
#pragma once

#include <atomic>
#include <string>

namespace transfer {

struct DownloadLimits {
    // A peer that does not answer the connect within this time ends the transfer.
    long connectTimeoutSeconds = 15;
    // A transfer slower than `lowSpeedBytes` per second for `lowSpeedSeconds` ends.
    long lowSpeedBytes = 1;
    long lowSpeedSeconds = 60;
    // Set from another thread to end the transfer early (shutdown).
    const std::atomic<bool>* abort = nullptr;
};

struct DownloadResult {
    int curlCode = 0;          // CURLcode; 0 on success
    bool fileCreated = false;  // the target was created (some data arrived)
};

// One transfer of `url` into `path` on a fresh IPv4 connection (HTTP, HTTPS
// or FTP only). The file is created (truncated) when the first data arrives,
// so a transfer without data leaves no file. An HTTP error answer (status 400
// and up) fails the transfer and stores nothing.
DownloadResult fetchToFile(const std::string& url, const std::string& path,
                           const DownloadLimits& limits = {});

// fetchToFile, then true when `path` exists and can be read. A failed
// transfer is logged.
bool downloadToFile(const std::string& url, const std::string& path);

// The URL with %XX sequences decoded.
std::string unescapeUrl(const std::string& url);

}  // namespace transfer
