#include "transfer/receive_table.h"

#include "support/files.h"
#include "support/logger.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace transfer {

ReceiveTable::~ReceiveTable() { clear(); }

void ReceiveTable::closeEntry(Entry& entry) {
    if (entry.fd < 0)
        return;
    LOGOUT("file len:%lld, write: %lld", static_cast<long long>(entry.fileSize),
           static_cast<long long>(entry.written));
    ::close(entry.fd);
    entry.fd = -1;
    entry.fileSize = 0;
    entry.written = 0;
}

bool ReceiveTable::openEntry(Entry& entry, const std::string& folder, const std::string& name,
                             int64_t fileSize) {
    support::mkdir(folder);
    entry.path = folder + "/" + name;
    entry.abandoned = false;
    // O_NOFOLLOW: a symbolic link planted in the folder is not written through.
    // No space is reserved for the announced size; it is only logged.
    const int fd = ::open(entry.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    entry.fd = fd;
    entry.fileName = name;
    entry.fileSize = fileSize;
    entry.written = 0;
    return true;
}

bool ReceiveTable::start(int64_t fileId, const std::string& folder, const std::string& name,
                         int64_t fileSize) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fileId);
    if (it == entries_.end()) {
        auto entry = std::make_unique<Entry>();
        if (!openEntry(*entry, folder, name, fileSize))
            return false;
        entries_.emplace(fileId, std::move(entry));
        return true;
    }
    closeEntry(*it->second);
    return openEntry(*it->second, folder, name, fileSize);
}

bool ReceiveTable::write(int64_t fileId, const uint8_t* data, size_t length) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fileId);
    if (it == entries_.end() || it->second->fd < 0)
        return false;
    Entry& entry = *it->second;
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(entry.fd, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            entry.written += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // No progress (full disk, I/O error): retrying under the lock would
        // spin for ever, and a cut file must not be opened as if complete.
        LOGOUT("write %s failed after %llu bytes: %s; file abandoned", entry.path.c_str(),
               static_cast<unsigned long long>(entry.written), n < 0 ? std::strerror(errno) : "no progress");
        closeEntry(entry);
        ::unlink(entry.path.c_str());
        entry.abandoned = true;
        return false;
    }
    return true;
}

void ReceiveTable::end(int64_t fileId) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fileId);
    if (it != entries_.end())
        closeEntry(*it->second);
}

std::string ReceiveTable::finish(int64_t fileId) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fileId);
    if (it == entries_.end())
        return {};
    closeEntry(*it->second);
    return it->second->abandoned ? std::string() : it->second->path;
}

void ReceiveTable::clear() {
    std::lock_guard lock(mutex_);
    for (auto& [id, entry] : entries_)
        closeEntry(*entry);
    entries_.clear();
}

size_t ReceiveTable::size() {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

uint64_t ReceiveTable::written(int64_t fileId) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(fileId);
    return it == entries_.end() ? 0 : it->second->written;
}

}  // namespace transfer
