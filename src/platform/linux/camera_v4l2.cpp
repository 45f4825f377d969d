// Cameras through V4L2: capture nodes found by VIDIOC_QUERYCAP, formats and
// frame sizes by VIDIOC_ENUM_FMT / VIDIOC_ENUM_FRAMESIZES, frames through
// memory-mapped streaming buffers.
#include "platform/camera_device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
}

std::string cardName(const v4l2_capability& cap) {
    const char* card = reinterpret_cast<const char*>(cap.card);
    return std::string(card, strnlen(card, sizeof cap.card));
}

uint32_t deviceCaps(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

bool capturesVideo(const v4l2_capability& cap) {
    const uint32_t caps = deviceCaps(cap);
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

class V4l2Camera : public CameraDevice {
public:
    explicit V4l2Camera(int fd) : fd_(fd) {}
    ~V4l2Camera() override {
        stop();
        ::close(fd_);
    }

    std::vector<CameraSizeRange> capabilities() override {
        std::vector<CameraSizeRange> out;
        for (uint32_t i = 0;; ++i) {
            v4l2_fmtdesc desc{};
            desc.index = i;
            desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (xioctl(fd_, VIDIOC_ENUM_FMT, &desc) != 0) break;
            for (uint32_t j = 0;; ++j) {
                v4l2_frmsizeenum size{};
                size.index = j;
                size.pixel_format = desc.pixelformat;
                if (xioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
                CameraSizeRange range;
                range.pixelFormat = desc.pixelformat;
                if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                    range.minWidth = range.maxWidth = int(size.discrete.width);
                    range.minHeight = range.maxHeight = int(size.discrete.height);
                    range.stepWidth = range.stepHeight = 1;
                    out.push_back(range);
                    continue;
                }
                range.minWidth = int(size.stepwise.min_width);
                range.maxWidth = int(size.stepwise.max_width);
                range.stepWidth = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS ? 1 : int(size.stepwise.step_width);
                range.minHeight = int(size.stepwise.min_height);
                range.maxHeight = int(size.stepwise.max_height);
                range.stepHeight =
                    size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS ? 1 : int(size.stepwise.step_height);
                out.push_back(range);
                break;  // one range describes every size of this layout
            }
        }
        return out;
    }

    CameraFormat format() override {
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_G_FMT, &f) != 0) return {};
        return {f.fmt.pix.pixelformat, int(f.fmt.pix.width), int(f.fmt.pix.height), int(f.fmt.pix.bytesperline)};
    }

    bool setFormat(const CameraFormat& wanted) override {
        if (streaming_ || wanted.width <= 0 || wanted.height <= 0) return false;
        v4l2_format before{};
        before.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_G_FMT, &before) != 0) return false;
        v4l2_format f = before;
        f.fmt.pix.pixelformat = wanted.pixelFormat;
        f.fmt.pix.width = uint32_t(wanted.width);
        f.fmt.pix.height = uint32_t(wanted.height);
        f.fmt.pix.field = V4L2_FIELD_ANY;
        f.fmt.pix.bytesperline = 0;
        f.fmt.pix.sizeimage = 0;
        // The driver answers with the nearest format it has; anything but
        // the exact one counts as refused.
        if (xioctl(fd_, VIDIOC_S_FMT, &f) == 0 && f.fmt.pix.pixelformat == wanted.pixelFormat &&
            int(f.fmt.pix.width) == wanted.width && int(f.fmt.pix.height) == wanted.height &&
            (f.fmt.pix.field == V4L2_FIELD_NONE || f.fmt.pix.field == V4L2_FIELD_ANY))
            return true;
        xioctl(fd_, VIDIOC_S_FMT, &before);
        return false;
    }

    bool start() override {
        if (streaming_) return true;
        v4l2_requestbuffers req{};
        req.count = 4;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_REQBUFS, &req) != 0 || req.count < 2) return false;
        for (uint32_t i = 0; i < req.count; ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            if (xioctl(fd_, VIDIOC_QUERYBUF, &buf) != 0) return release(), false;
            void* p = ::mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
            if (p == MAP_FAILED) return release(), false;
            buffers_.push_back({p, buf.length});
            if (xioctl(fd_, VIDIOC_QBUF, &buf) != 0) return release(), false;
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_STREAMON, &type) != 0) return release(), false;
        streaming_ = true;
        return true;
    }

    bool nextFrame(int timeoutMs, const std::function<void(const CameraFrame&)>& sink) override {
        if (!streaming_) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) return false;
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_DQBUF, &buf) != 0) return false;
        bool ok = false;
        if (buf.index < buffers_.size() && !(buf.flags & V4L2_BUF_FLAG_ERROR)) {
            const size_t used = std::min<size_t>(buf.bytesused, buffers_[buf.index].length);
            CameraFrame frame;
            frame.data = static_cast<const uint8_t*>(buffers_[buf.index].start);
            frame.length = used;
            sink(frame);
            ok = true;
        }
        xioctl(fd_, VIDIOC_QBUF, &buf);
        return ok;
    }

    void stop() override {
        if (streaming_) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            xioctl(fd_, VIDIOC_STREAMOFF, &type);
            streaming_ = false;
        }
        release();
    }

private:
    struct Mapped {
        void* start;
        size_t length;
    };

    void release() {
        for (const Mapped& m : buffers_) ::munmap(m.start, m.length);
        if (!buffers_.empty()) {
            v4l2_requestbuffers req{};
            req.count = 0;
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            xioctl(fd_, VIDIOC_REQBUFS, &req);
        }
        buffers_.clear();
    }

    int fd_;
    bool streaming_ = false;
    std::vector<Mapped> buffers_;
};

class V4l2CameraSystem : public CameraSystem {
public:
    std::vector<CameraNode> nodes() override {
        std::vector<std::pair<int, std::string>> paths;
        if (DIR* dir = ::opendir("/dev")) {
            while (dirent* entry = ::readdir(dir)) {
                const char* name = entry->d_name;
                if (std::strncmp(name, "video", 5) != 0 || !name[5]) continue;
                char* end = nullptr;
                const long number = std::strtol(name + 5, &end, 10);
                if (*end || number < 0) continue;
                paths.emplace_back(int(number), std::string("/dev/") + name);
            }
            ::closedir(dir);
        }
        std::sort(paths.begin(), paths.end());
        std::vector<CameraNode> out;
        for (const auto& [number, path] : paths) {
            CameraNode node;
            node.id = path;
            node.name = path;
            const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                v4l2_capability cap{};
                if (xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
                    node.name = cardName(cap);
                    node.canCapture = capturesVideo(cap);
                }
                ::close(fd);
            }
            out.push_back(std::move(node));
        }
        return out;
    }

    std::unique_ptr<CameraDevice> open(const std::string& id) override {
        const int fd = ::open(id.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        v4l2_capability cap{};
        if (xioctl(fd, VIDIOC_QUERYCAP, &cap) != 0 || !capturesVideo(cap)) {
            ::close(fd);
            return nullptr;
        }
        return std::make_unique<V4l2Camera>(fd);
    }
};

}  // namespace

std::unique_ptr<CameraSystem> makeV4l2CameraSystem() { return std::make_unique<V4l2CameraSystem>(); }

}  // namespace platform
