#include "camera/camera_engine.h"

#include "camera/camera_converter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <thread>

namespace camera {

using platform::CameraFormat;
using platform::CameraSizeRange;
namespace pixel = platform::pixel;

const std::array<Subtype, 19> kSubtypes = {{
    {"RGB24", pixel::BGR24},   {"RGB32", pixel::BGR32},   {"RGB555", pixel::RGB555},
    {"RGB565", pixel::RGB565}, {"YUY2", pixel::YUYV},     {"YVYU", pixel::YVYU},
    {"YUYV", pixel::YUYV},     {"IYUV", pixel::YUV420},   {"UYVY", pixel::UYVY},
    {"YV12", pixel::YVU420},   {"YVU9", pixel::YVU410},   {"Y411", pixel::Y411},
    {"Y41P", pixel::Y41P},     {"Y211", platform::fourcc('Y', '2', '1', '1')},
    {"AYUV", pixel::AYUV},     {"Y800", pixel::GREY},     {"Y8", platform::fourcc('Y', '8', ' ', ' ')},
    {"GREY", pixel::GREY},     {"MJPG", pixel::MJPEG},
}};

namespace {

// The value of [lo, hi] in steps of `step` nearest to `want` (the first on a
// tie); `exact` tells whether it is `want` itself.
int nearestStep(int lo, int hi, int step, int want, bool& exact) {
    exact = false;
    if (want >= lo && want <= hi && (want - lo) % step == 0) {
        exact = true;
        return want;
    }
    // The steps either side of `want`, clamped into the range: the nearest
    // is one of them (walking every step gives the same answer).
    int below = lo;
    if (want > lo) below = lo + std::min((want - lo) / step, (hi - lo) / step) * step;
    const int above = below + step <= hi ? below + step : below;
    return std::abs(want - below) <= std::abs(want - above) ? below : above;
}

// A name cut to the table's room without splitting a UTF-8 character.
std::string cutName(const std::string& name) {
    constexpr size_t room = kNameBytes - 2;
    if (name.size() <= room) return name;
    size_t end = room;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end);
}

}  // namespace

bool closestSize(const std::vector<CameraSizeRange>& caps, int width, int height, bool (*usable)(uint32_t),
                 CameraFormat& best) {
    int64_t bestW = 9999999, bestH = 9999999;  // differences of the running best
    bool found = false;
    for (const CameraSizeRange& c : caps) {
        if (c.stepWidth <= 0 || c.stepHeight <= 0 || c.minWidth > c.maxWidth || c.minHeight > c.maxHeight)
            continue;
        if (usable && !usable(c.pixelFormat)) continue;
        bool exactW, exactH;
        const int w = nearestStep(c.minWidth, c.maxWidth, c.stepWidth, width, exactW);
        const int h = nearestStep(c.minHeight, c.maxHeight, c.stepHeight, height, exactH);
        if (exactW && exactH) {
            best = {c.pixelFormat, w, h};
            return true;
        }
        const int64_t dw = std::abs(int64_t(width) - w), dh = std::abs(int64_t(height) - h);
        if (dw + dh < bestW + bestH) {
            bestW = dw;
            bestH = dh;
            best = {c.pixelFormat, w, h};
            found = true;
        }
    }
    return found;
}

struct CameraEngine::Device {
    std::unique_ptr<platform::CameraDevice> camera;
    int width = 0;
    int height = 0;
    std::atomic<bool> ready{false};
    // The receiver: the latest frame as the device delivered it, and its
    // flags. The stream thread fills the converter while frameReady is
    // clear; readers convert from it under the mutex while it is set.
    CameraConverter converter;
    std::mutex mutex;
    std::condition_variable event;
    bool newFrame = false;
    bool frameReady = false;  // set when a frame arrives, cleared when it is taken
    bool sizeWarned = false;
    bool decodeWarned = false;

    std::atomic<bool> stopping{false};
    std::thread stream;

    ~Device() { stop(); }

    void streamLoop() {
        pthread_setname_np(pthread_self(), "camera-stream");
        while (!stopping.load()) {
            const auto start = std::chrono::steady_clock::now();
            if (camera->nextFrame(100, [this](const platform::CameraFrame& frame) { SampleCB(frame); }))
                continue;
            // A device that fails at once (unplugged) is not asked again in a tight loop.
            if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(5))
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // One frame from the device. It is kept as delivered (the planes copied
    // out of the device's buffer, or a compressed picture decoded); each
    // reader converts it to what it asks for, once.
    void SampleCB(const platform::CameraFrame& frame) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (frameReady) return;  // the previous frame was not taken: drop this one
        }
        if (!frame.planes[0] && (!frame.length || frame.length >= 0x10000000)) return;
        // Nobody reads the converter until frameReady is set, so it is
        // filled outside the lock.
        const ConvertResult result = converter.take(frame);
        if (result != ConvertResult::ok) {
            bool& warned = result == ConvertResult::wrongSize ? sizeWarned : decodeWarned;
            if (!warned) {
                // Once per device: a camera sending such frames sends them all the time.
                std::printf(result == ConvertResult::wrongSize
                                ? "ERROR: SampleCB() - buffer sizes do not match\n"
                                : "ERROR: SampleCB() - frame could not be decoded\n");
                std::fflush(stdout);
                warned = true;
            }
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            newFrame = true;
            frameReady = true;
        }
        event.notify_all();
    }

    void stop() {
        ready = false;
        stopping = true;
        event.notify_all();
        if (stream.joinable()) stream.join();
        if (camera) camera->stop();
        camera.reset();
    }
};

CameraEngine::CameraEngine(platform::CameraSystem& system) : system_(system) {
    for (auto& d : devices_) d = std::make_shared<Device>();
}

CameraEngine::~CameraEngine() {
    for (int i = 0; i < kMaxDevices; ++i) closeCamera(i);
}

std::shared_ptr<CameraEngine::Device> CameraEngine::device(int index) {
    if (index < 0 || index >= kMaxDevices) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_[size_t(index)];
}

int CameraEngine::enumerateCameras() {
    std::vector<platform::CameraNode> nodes = system_.nodes();
    std::lock_guard<std::mutex> lock(mutex_);
    ids_.clear();
    for (auto& entry : names_) entry.fill(0);
    for (const platform::CameraNode& node : nodes) {
        if (!node.canCapture) continue;
        if (ids_.size() < size_t(kMaxDevices)) {
            const std::string name = cutName(node.name);
            std::memcpy(names_[ids_.size()].data(), name.data(), name.size());
        }
        ids_.push_back(node.id);
    }
    return int(ids_.size());
}

std::string CameraEngine::cameraName(int index) {
    if (index < 0 || index >= kMaxDevices) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    return std::string(names_[size_t(index)].data());
}

bool CameraEngine::openCamera(int index) {
    const int count = enumerateCameras();
    if (index < 0 || index >= kMaxDevices || index >= count) {
        std::printf("SETUP: device[%i] not found - you have %i devices available\n", index, count);
        std::fflush(stdout);
        return false;
    }
    std::shared_ptr<Device> d = device(index);
    if (d->camera) {
        std::printf("SETUP: can't setup, device %i is currently being used\n", index);
        std::fflush(stdout);
        return false;
    }
    const bool ok = setUp(*d, index);
    std::fflush(stdout);
    if (!ok) closeCamera(index);
    return ok;
}

bool CameraEngine::setUp(Device& d, int index) {
    std::string id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        id = ids_[size_t(index)];
    }
    d.camera = system_.open(id);
    if (!d.camera) {
        std::printf("ERROR - Could not find specified video device\n");
        return false;
    }
    platform::CameraDevice& cam = *d.camera;

    // The requested layout at the requested size, then every layout of the
    // table, then the nearest size the device offers, else its own format.
    std::vector<uint32_t> tried;
    auto attempt = [&](uint32_t layout, int w, int h) {
        if (!CameraConverter::canConvert(layout)) return false;
        return cam.setFormat({layout, w, h});
    };
    bool set = attempt(kSubtypes[0].layout, kRequestedWidth, kRequestedHeight);
    tried.push_back(kSubtypes[0].layout);
    for (const Subtype& s : kSubtypes) {
        if (set) break;
        if (std::find(tried.begin(), tried.end(), s.layout) != tried.end()) continue;
        tried.push_back(s.layout);
        set = attempt(s.layout, kRequestedWidth, kRequestedHeight);
    }
    if (!set) {
        CameraFormat best;
        if (closestSize(cam.capabilities(), kRequestedWidth, kRequestedHeight, &CameraConverter::canConvert, best))
            set = attempt(best.pixelFormat, best.width, best.height);
    }
    const CameraFormat format = cam.format();
    if (format.width <= 0 || format.height <= 0 || !CameraConverter::canConvert(format.pixelFormat)) {
        std::printf("ERROR: Couldn't config the stream!\n");
        return false;
    }
    std::printf("SETUP: %s %dx%d %s%s\n", cameraName(index).c_str(), format.width, format.height,
                platform::fourccText(format.pixelFormat).c_str(), set ? "" : " (device default)");
    d.width = format.width;
    d.height = format.height;
    if (!d.converter.setUp(format.pixelFormat, d.width, d.height, format.bytesPerLine)) {
        std::printf("ERROR: Could not connect pins - RenderStream()\n");
        return false;
    }
    if (!cam.start()) {
        std::printf("ERROR: Could not start graph\n");
        return false;
    }
    d.ready = true;
    d.stream = std::thread([&d] { d.streamLoop(); });
    std::printf("SETUP: Device is setup and ready to capture.\n");
    return true;
}

bool CameraEngine::isSetUp(int index) {
    std::shared_ptr<Device> d = device(index);
    return d && d->ready.load();
}

int CameraEngine::width(int index) {
    std::shared_ptr<Device> d = device(index);
    return d && d->ready.load() ? d->width : 0;
}

int CameraEngine::height(int index) {
    std::shared_ptr<Device> d = device(index);
    return d && d->ready.load() ? d->height : 0;
}

bool CameraEngine::hasNewFrame(int index) {
    std::shared_ptr<Device> d = device(index);
    if (!d || !d->ready.load()) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index >= int(ids_.size())) return false;
    }
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->newFrame;
}

bool CameraEngine::takeFrame(int index, const std::function<bool(Device&)>& convert) {
    std::shared_ptr<Device> d = device(index);
    if (!d || !d->ready.load()) return false;
    std::unique_lock<std::mutex> lock(d->mutex);
    if (!d->event.wait_for(lock, std::chrono::milliseconds(kFrameWaitMs),
                           [&] { return d->frameReady || !d->ready.load(); }) ||
        !d->frameReady)
        return false;
    const bool ok = convert(*d);
    // The frame is used up either way; the device may deliver the next.
    d->newFrame = false;
    d->frameReady = false;
    return ok;
}

bool CameraEngine::GetPixels(int index, uint8_t* dst, bool swapRB, bool flip) {
    if (!dst) return false;
    return takeFrame(index, [&](Device& d) {
        // The frame counts as bottom-up: unflipped, its last row comes first.
        const int stride = d.width * 3;
        return d.converter.toRgb24(dst, flip ? stride : -stride, swapRB);
    });
}

bool CameraEngine::GetPicture(int index, uint8_t* dst, int width, int height, int stride) {
    // A size the frame cannot give is refused before the frame is used up.
    if (!dst || width < 1 || height < 1 || width > this->width(index) || height > this->height(index) ||
        int64_t(stride) < int64_t(width) * 4)
        return false;
    return takeFrame(index, [&](Device& d) { return d.converter.toBgra(dst, width, height, stride); });
}

void CameraEngine::closeCamera(int index) {
    if (index < 0 || index >= kMaxDevices) return;
    std::shared_ptr<Device> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        old = std::move(devices_[size_t(index)]);
        devices_[size_t(index)] = std::make_shared<Device>();
    }
    // A caller still inside GetPixels keeps the old record alive; it wakes
    // up and finds the device gone.
    if (old) old->stop();
}

}  // namespace camera
