#include "stream/send_backlog.h"

#include <algorithm>

#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace stream {

size_t unsentInKernel(int fd) {
    int bytes = 0;
    if (fd < 0 || ::ioctl(fd, SIOCOUTQ, &bytes) != 0 || bytes < 0) return 0;
    return size_t(bytes);
}

size_t WrittenPictures::pending(size_t unsent) {
    const uint64_t delivered = position_ - std::min<uint64_t>(unsent, position_);
    while (!ends_.empty() && ends_.front() <= delivered) ends_.pop_front();
    return ends_.size();
}

void RecentPictures::queued(size_t bytes) {
    sizes_.push_back(bytes);
    while (sizes_.size() > keep_) sizes_.pop_front();
}

size_t RecentPictures::pending(size_t waiting) const {
    size_t covered = 0, count = 0;
    for (auto it = sizes_.rbegin(); it != sizes_.rend() && covered < waiting; ++it) {
        covered += *it;
        ++count;
    }
    return count;
}

void RecentPictures::setKeep(size_t keep) {
    keep_ = keep;
    while (sizes_.size() > keep_) sizes_.pop_front();
}

}  // namespace stream
