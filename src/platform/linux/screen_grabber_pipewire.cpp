// Screen pictures from mutter's ScreenCast stream. PipeWire delivers frames
// on its own thread whenever the screen changes; the newest one is kept and
// capture() copies it into the picture callers read. The cursor comes as
// stream metadata (position, and its image when that changes) and is drawn
// into the picture when a caller asks for it.
#include "platform/gnome_remote.h"
#include "platform/linux/gnome_remote_session.h"

#include "support/logger.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {

namespace {

void initPipeWire() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

class PipeWireScreenGrabber : public ScreenGrabber {
public:
    explicit PipeWireScreenGrabber(std::shared_ptr<RemoteScreenSession> session) : session_(std::move(session)) {}
    ~PipeWireScreenGrabber() override { close(); }

    bool open() override {
        close();
        if (!session_ || !session_->ensureStarted()) return false;
        streamGeneration_ = session_->generation();
        initPipeWire();
        loop_ = pw_thread_loop_new("lumacro-screencast", nullptr);
        if (!loop_) return false;
        context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
        if (!context_ || pw_thread_loop_start(loop_) < 0) {
            LOGOUT("PipeWire: no context");
            close();
            return false;
        }
        pw_thread_loop_lock(loop_);
        bool ok = connectStream();
        pw_thread_loop_unlock(loop_);
        if (!ok) {
            close();
            return false;
        }
        // The size is known once the format is agreed on.
        std::unique_lock<std::mutex> lock(mutex_);
        if (!formatCv_.wait_for(lock, std::chrono::seconds(5), [this] { return streamW_ > 0; })) {
            lock.unlock();
            LOGOUT("PipeWire: screencast stream gave no format");
            close();
            return false;
        }
        width_ = streamW_;
        height_ = streamH_;
        picture_.assign(size_t(width_) * height_ * 4, 0);
        // mutter sends a first frame as the stream starts; later ones only
        // when the screen changes. A caller grabbing at once gets that one.
        formatCv_.wait_for(lock, std::chrono::seconds(2), [this] { return frameSerial_ > 0; });
        LOGOUT("PipeWire screen grabber open: %dx%d", width_, height_);
        return true;
    }

    int width() override { return width_; }
    int height() override { return height_; }

    bool capture(bool drawCursor) override {
        // Only an open grabber (its picture fixed) looks after its stream.
        if (loop_ && (streamLost_.load() || session_->generation() != streamGeneration_)) reconnect();
        std::lock_guard<std::mutex> lock(mutex_);
        if (width_ == 0 || frameSerial_ == 0) return false;
        // The picture is copied again when the frame, the cursor or the wish
        // for a cursor changed, so that no old cursor stays in it.
        if (frameSerial_ != copiedSerial_ || (drawCursor && cursorSerial_ != copiedCursorSerial_) ||
            drawCursor != cursorDrawn_) {
            const int w = std::min(width_, frameW_), h = std::min(height_, frameH_);
            for (int y = 0; y < h; ++y)
                std::memcpy(picture_.data() + size_t(y) * width_ * 4, frame_.data() + size_t(y) * frameW_ * 4,
                            size_t(w) * 4);
            if (drawCursor && cursorVisible_ && cursorW_ > 0)
                blendCursor(picture_.data(), width_ * 4, width_, height_, cursorImage_.data(), cursorW_, cursorH_,
                            cursorX_ - hotX_, cursorY_ - hotY_);
            copiedSerial_ = frameSerial_;
            copiedCursorSerial_ = cursorSerial_;
            cursorDrawn_ = drawCursor;
        }
        return true;
    }

    void copyTo(uint8_t* dst, int stride) override {
        for (int y = 0; y < height_; ++y)
            std::memcpy(dst + size_t(y) * stride, picture_.data() + size_t(y) * width_ * 4, size_t(width_) * 4);
    }

    uint8_t* picture() override { return width_ ? picture_.data() : nullptr; }
    int pictureStride() override { return width_ * 4; }

    void close() override {
        if (loop_) pw_thread_loop_stop(loop_);
        streamLost_ = false;
        if (stream_) {
            spa_hook_remove(&streamListener_);
            pw_stream_destroy(stream_);
            stream_ = nullptr;
        }
        if (core_) {
            pw_core_disconnect(core_);
            core_ = nullptr;
        }
        if (context_) {
            pw_context_destroy(context_);
            context_ = nullptr;
        }
        if (loop_) {
            pw_thread_loop_destroy(loop_);
            loop_ = nullptr;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        width_ = height_ = streamW_ = streamH_ = frameW_ = frameH_ = 0;
        frameSerial_ = copiedSerial_ = cursorSerial_ = copiedCursorSerial_ = 0;
        cursorDrawn_ = cursorVisible_ = false;
        cursorW_ = cursorH_ = 0;
        cursorImage_.clear();
        picture_.clear();
        frame_.clear();
    }

private:
    bool connectStream() {
        // The portal's stream is reached through the descriptor it gives.
        const int fd = session_->openPipeWireRemote();
        ownRemote_ = fd >= 0;
        core_ = fd >= 0 ? pw_context_connect_fd(context_, fd, nullptr, 0) : pw_context_connect(context_, nullptr, 0);
        if (!core_) {
            LOGOUT("PipeWire: cannot connect to the daemon");
            return false;
        }
        return createStream();
    }

    // When mutter ended the stream (its session closed), a new session and
    // stream are asked for, at most every two seconds; the picture keeps the
    // last frame meanwhile. Called on the capture thread, not holding mutex_
    // (PipeWire's thread takes it while holding the loop lock).
    void reconnect() {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastRetry_ < std::chrono::seconds(2)) return;
        lastRetry_ = now;
        pw_thread_loop_lock(loop_);
        if (stream_) {
            spa_hook_remove(&streamListener_);
            pw_stream_destroy(stream_);
            stream_ = nullptr;
        }
        pw_thread_loop_unlock(loop_);
        if (!session_->ensureStarted()) return;
        streamGeneration_ = session_->generation();
        pw_thread_loop_lock(loop_);
        streamLost_ = false;
        if (ownRemote_) {
            // A portal's connection shows only the streams of the session it
            // was opened for: the new stream needs a new one.
            if (core_) pw_core_disconnect(core_);
            core_ = nullptr;
            if (!connectStream()) streamLost_ = true;
        } else if (!createStream()) {
            streamLost_ = true;
        }
        pw_thread_loop_unlock(loop_);
        LOGOUT("PipeWire: screencast stream connected again (node %u)", session_->nodeId());
    }

    bool createStream() {
        stream_ = pw_stream_new(core_, "lumacro-screen",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                  PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        if (!stream_) return false;
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.param_changed = &PipeWireScreenGrabber::onParamChanged;
            e.state_changed = &PipeWireScreenGrabber::onStateChanged;
            e.process = &PipeWireScreenGrabber::onProcess;
            return e;
        }();
        pw_stream_add_listener(stream_, &streamListener_, &events, this);

        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        spa_rectangle defSize{1280, 720}, minSize{1, 1}, maxSize{16384, 16384};
        spa_fraction defRate{30, 1}, minRate{0, 1}, maxRate{240, 1};
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
            SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)));
        const int res = pw_stream_connect(
            stream_, PW_DIRECTION_INPUT, session_->nodeId(),
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
        if (res < 0) {
            LOGOUT("PipeWire: cannot connect to node %u: %s", session_->nodeId(), spa_strerror(res));
            return false;
        }
        return true;
    }

    static void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error) {
        auto* self = static_cast<PipeWireScreenGrabber*>(data);
        // A stream that was running and stopped, or failed: mutter ended it.
        if (state == PW_STREAM_STATE_ERROR ||
            (state == PW_STREAM_STATE_UNCONNECTED && old != PW_STREAM_STATE_UNCONNECTED)) {
            if (!self->streamLost_.exchange(true))
                LOGOUT("PipeWire: screencast stream ended (%s)", error ? error : "unconnected");
        }
    }

    static void onParamChanged(void* data, uint32_t id, const spa_pod* param) {
        auto* self = static_cast<PipeWireScreenGrabber*>(data);
        if (!param || id != SPA_PARAM_Format) return;
        spa_video_info_raw info{};
        uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
            mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &info) < 0)
            return;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->streamW_ = int(info.size.width);
            self->streamH_ = int(info.size.height);
        }
        self->formatCv_.notify_all();

        // Frames in memory this process can read (plain or shared memory),
        // and the cursor as metadata: position and an image of up to 512 x
        // 512 (mutter offers room for 384 x 384). Both in one call: each call
        // replaces the list.
        constexpr int kMaxCursor = 512;
        constexpr int kCursorMeta = int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + kMaxCursor * kMaxCursor * 4;
        constexpr int kSmallCursor = int(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + 64 * 64 * 4;
        uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* params[2];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
            SPA_PARAM_META_size, SPA_POD_CHOICE_RANGE_Int(kSmallCursor, int(sizeof(spa_meta_cursor)), kCursorMeta)));
        pw_stream_update_params(self->stream_, params, 2);
    }

    // Reads the cursor metadata of a buffer, when it has some.
    void takeCursor(spa_buffer* buf) {
        auto* cursor = static_cast<spa_meta_cursor*>(
            spa_buffer_find_meta_data(buf, SPA_META_Cursor, sizeof(spa_meta_cursor)));
        if (!cursor || !spa_meta_cursor_is_valid(cursor)) return;
        spa_meta* meta = spa_buffer_find_meta(buf, SPA_META_Cursor);
        const size_t metaSize = meta ? meta->size : 0;
        std::lock_guard<std::mutex> lock(mutex_);
        cursorX_ = cursor->position.x;
        cursorY_ = cursor->position.y;
        cursorVisible_ = true;
        if (cursor->bitmap_offset >= sizeof(spa_meta_cursor) &&
            cursor->bitmap_offset + sizeof(spa_meta_bitmap) <= metaSize) {
            const auto* bitmap = reinterpret_cast<const spa_meta_bitmap*>(
                reinterpret_cast<const uint8_t*>(cursor) + cursor->bitmap_offset);
            const int w = int(bitmap->size.width), h = int(bitmap->size.height);
            const int stride = bitmap->stride;
            const size_t end = size_t(cursor->bitmap_offset) + bitmap->offset + size_t(stride) * (h > 0 ? h - 1 : 0) +
                               size_t(w) * 4;
            if (bitmap->offset == 0 || w <= 0 || h <= 0) {
                // No image: the cursor is hidden.
                cursorVisible_ = false;
            } else if (bitmap->offset >= sizeof(spa_meta_bitmap) && stride >= w * 4 && end <= metaSize &&
                       w <= 1024 && h <= 1024) {
                const uint8_t* src = reinterpret_cast<const uint8_t*>(bitmap) + bitmap->offset;
                cursorImage_.resize(size_t(w) * h);
                // Premultiplied ARGB words, from the bytes in memory.
                int r = 2, g = 1, b = 0;  // BGRA (and BGRx)
                if (bitmap->format == SPA_VIDEO_FORMAT_RGBA || bitmap->format == SPA_VIDEO_FORMAT_RGBx) r = 0, b = 2;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const uint8_t* p = src + size_t(y) * stride + size_t(x) * 4;
                        cursorImage_[size_t(y) * w + x] = (uint32_t(p[3]) << 24) | (uint32_t(p[r]) << 16) |
                                                          (uint32_t(p[g]) << 8) | p[b];
                    }
                cursorW_ = w;
                cursorH_ = h;
                hotX_ = cursor->hotspot.x;
                hotY_ = cursor->hotspot.y;
            }
        }
        ++cursorSerial_;
    }

    static void onProcess(void* data) {
        auto* self = static_cast<PipeWireScreenGrabber*>(data);
        pw_buffer* newest = nullptr;
        // Only the newest queued frame matters.
        while (pw_buffer* b = pw_stream_dequeue_buffer(self->stream_)) {
            if (newest) pw_stream_queue_buffer(self->stream_, newest);
            newest = b;
        }
        if (!newest) return;
        spa_buffer* buf = newest->buffer;
        self->takeCursor(buf);
        if (buf->n_datas > 0 && buf->datas[0].data && buf->datas[0].chunk && buf->datas[0].chunk->size > 0)
            self->takeFrame(buf->datas[0]);
        pw_stream_queue_buffer(self->stream_, newest);
    }

    void takeFrame(const spa_data& d) {
        std::lock_guard<std::mutex> lock(mutex_);
        const int w = streamW_, h = streamH_;
        if (w <= 0 || h <= 0) return;
        const int stride = d.chunk->stride > 0 ? d.chunk->stride : w * 4;
        const uint32_t offset = std::min(d.chunk->offset, d.maxsize);
        // A frame shorter than its rows claim is not read past its end.
        const size_t available = d.maxsize - offset;
        const int rows = std::min<int64_t>(h, stride >= w * 4 ? int64_t(available / size_t(stride)) : 0);
        if (rows <= 0) return;
        frame_.resize(size_t(w) * h * 4);
        const auto* src = static_cast<const uint8_t*>(d.data) + offset;
        for (int y = 0; y < rows; ++y) std::memcpy(frame_.data() + size_t(y) * w * 4, src + size_t(y) * stride, size_t(w) * 4);
        frameW_ = w;
        frameH_ = rows;
        if (++frameSerial_ == 1) formatCv_.notify_all();
    }

    std::shared_ptr<RemoteScreenSession> session_;
    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook streamListener_{};
    std::atomic<bool> streamLost_{false};
    bool ownRemote_ = false;  // core_ is a connection the session gave
    uint64_t streamGeneration_ = 0;  // the session start the stream belongs to
    std::chrono::steady_clock::time_point lastRetry_{};

    std::mutex mutex_;
    std::condition_variable formatCv_;
    int streamW_ = 0, streamH_ = 0;  // agreed stream size
    std::vector<uint8_t> frame_;     // newest frame, rows tight
    int frameW_ = 0, frameH_ = 0;
    uint64_t frameSerial_ = 0, copiedSerial_ = 0;
    std::vector<uint8_t> picture_;   // what callers read, fixed at open()
    bool cursorDrawn_ = false;       // the picture holds a cursor
    // Cursor from the metadata: position on the stream, image, hotspot.
    std::vector<uint32_t> cursorImage_;
    int cursorW_ = 0, cursorH_ = 0, hotX_ = 0, hotY_ = 0, cursorX_ = 0, cursorY_ = 0;
    bool cursorVisible_ = false;
    uint64_t cursorSerial_ = 0, copiedCursorSerial_ = 0;
    int width_ = 0, height_ = 0;
};

}  // namespace

std::unique_ptr<ScreenGrabber> makePipeWireScreenGrabber(std::shared_ptr<RemoteScreenSession> session) {
    return std::make_unique<PipeWireScreenGrabber>(std::move(session));
}

}  // namespace platform
