// Files that phones push through the session, keyed by the phone's fileId.
// One table for the whole PC; every call takes the table lock, and data is
// written to disk under it straight from the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace transfer {

class ReceiveTable {
public:
    ReceiveTable() = default;
    ~ReceiveTable();  // clear()
    ReceiveTable(const ReceiveTable&) = delete;
    ReceiveTable& operator=(const ReceiveTable&) = delete;

    // Creates or truncates `folder`/`name` (the folder is made when missing)
    // and registers it under `fileId`; a file still open under that id is
    // closed first. `name` must already be a plain file name. False when the
    // file cannot be created: a new id then gets no entry, an existing one
    // stays closed with the new path.
    bool start(int64_t fileId, const std::string& folder, const std::string& name, int64_t fileSize);
    // Appends `length` bytes to the open file of `fileId`. False when the id
    // is unknown or closed, or when the disk takes no more (the file is then
    // abandoned: closed and removed, and a later open of it does nothing).
    bool write(int64_t fileId, const uint8_t* data, size_t length);
    // Closes the open file of `fileId` and logs its sizes.
    void end(int64_t fileId);
    // Closes the file if still open and returns its path for opening; empty
    // for an unknown id or an abandoned file.
    std::string finish(int64_t fileId);
    // Closes every open file and forgets every entry.
    void clear();

    size_t size();
    // Bytes written to the file of `fileId` since its start (0 when unknown).
    uint64_t written(int64_t fileId);

private:
    struct Entry {
        int fd = -1;
        int64_t fileSize = 0;
        uint64_t written = 0;
        bool abandoned = false;
        std::string path;
        std::string fileName;
    };
    static void closeEntry(Entry& entry);
    static bool openEntry(Entry& entry, const std::string& folder, const std::string& name,
                          int64_t fileSize);

    std::mutex mutex_;
    std::map<int64_t, std::unique_ptr<Entry>> entries_;
};

}  // namespace transfer
