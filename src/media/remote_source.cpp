#include "media/remote_source.h"

#include "protocol/fields.h"
#include "support/logger.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <chrono>
#include <cstring>

namespace media {

namespace field = protocol::field;

namespace {

int readThunk(void* opaque, uint8_t* buffer, int size) {
    return static_cast<RemoteSource*>(opaque)->readPacket(buffer, size);
}

int64_t seekThunk(void* opaque, int64_t offset, int whence) {
    return static_cast<RemoteSource*>(opaque)->seek(offset, whence);
}

}  // namespace

RemoteSource::~RemoteSource() { cancel(); }

void RemoteSource::reset(int64_t fileSize) {
    std::lock_guard<std::mutex> lock(mutex_);
    incoming_.clear();
    incomingBytes_ = 0;
    dataArrived_ = false;
    seekAck_ = false;
    leftover_.clear();
    leftoverPos_ = 0;
    fileSize_ = fileSize;
    unanswered_ = 0;
}

void RemoteSource::begin() {
    reset(0);
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = false;
}

AVFormatContext* RemoteSource::open(int64_t fileSize, const std::string& name) {
    reset(fileSize);
    if (stopped_) return nullptr;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kReadBytes));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kReadBytes, 0, this, readThunk, nullptr, seekThunk)
                             : nullptr;
    AVFormatContext* input = io ? avformat_alloc_context() : nullptr;
    if (!input) {
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        } else {
            av_free(buffer);
        }
        return nullptr;
    }
    input->pb = io;
    input->flags |= AVFMT_FLAG_CUSTOM_IO;

    // A phone that does not answer while the format is probed ends the open.
    requestLimit_ = openLimit_.load();
    int rc = avformat_open_input(&input, nullptr, nullptr, nullptr);
    if (rc < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(rc, text, sizeof text);
        LOGOUT("avformat_open_input failed: %s", text);
        LOGOUT("open failed: %s", name.c_str());
        // avformat_open_input freed the context but not our byte stream.
        av_freep(&io->buffer);
        avio_context_free(&io);
        requestLimit_ = 0;
        return nullptr;
    }
    rc = avformat_find_stream_info(input, nullptr);
    requestLimit_ = 0;
    if (rc < 0 || stopped_) {
        LOGOUT("avformat_find_stream_info failed: %s", name.c_str());
        close(input);
        return nullptr;
    }
    return input;
}

void RemoteSource::close(AVFormatContext*& input) {
    if (!input) return;
    AVIOContext* io = input->pb;
    avformat_close_input(&input);
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    reset(0);
}

void RemoteSource::pushData(const uint8_t* data, size_t length) {
    if (stopped_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (incomingBytes_ + length > kIncomingLimit) {
            LOGOUT("remote media: %zu bytes nobody asked for, chunk dropped", incomingBytes_ + length);
            return;
        }
        incoming_.emplace_back(data, data + (data ? length : 0));
        incomingBytes_ += length;
        dataArrived_ = true;
    }
    unanswered_ = 0;
    changed_.notify_all();
}

void RemoteSource::seekDone() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seekAck_ = true;
    }
    changed_.notify_all();
}

void RemoteSource::cancel() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

int RemoteSource::readPacket(uint8_t* buffer, int size) {
    if (stopped_ || size <= 0) return AVERROR_EXIT;
    if (leftoverPos_ < leftover_.size()) {
        const size_t n = std::min(size_t(size), leftover_.size() - leftoverPos_);
        std::memcpy(buffer, leftover_.data() + leftoverPos_, n);
        leftoverPos_ += n;
        return int(n);
    }
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!incoming_.empty()) {
            std::vector<uint8_t> chunk = std::move(incoming_.front());
            incoming_.pop_front();
            incomingBytes_ -= chunk.size();
            lock.unlock();
            if (chunk.empty()) return AVERROR_EOF;  // the phone's end of file
            const size_t n = std::min(size_t(size), chunk.size());
            std::memcpy(buffer, chunk.data(), n);
            leftover_ = std::move(chunk);
            leftoverPos_ = n;
            return int(n);
        }
        if (stopped_) return AVERROR_EXIT;
        const int limit = requestLimit_;
        if (limit > 0 && unanswered_ >= limit) {
            LOGOUT("remote media: %d read requests unanswered", int(unanswered_));
            return AVERROR_EXIT;
        }
        lock.unlock();
        Json::Value request(Json::objectValue);
        request[field::action] = 1;
        request[field::bytes] = kReadBytes;
        send_(request);
        ++unanswered_;
        lock.lock();
        changed_.wait_for(lock, std::chrono::milliseconds(waitMs_.load()),
                          [this] { return dataArrived_ || stopped_; });
        dataArrived_ = false;
    }
}

int64_t RemoteSource::seek(int64_t offset, int whence) {
    if (whence == AVSEEK_SIZE) {
        LOGOUT("seek_io_buffer AVSEEK_SIZE");
        return fileSize_;
    }
    if (whence != SEEK_SET) {
        LOGOUT("offset: %lld whence: %d", static_cast<long long>(offset), whence);
        return -1;
    }
    if (stopped_) return -1;
    LOGOUT("seek_io_buffer");
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seekAck_ = false;  // a late acknowledgement of an earlier seek
    }
    Json::Value request(Json::objectValue);
    request[field::action] = 4;
    request[field::offset] = static_cast<Json::Int64>(offset);
    request[field::whence] = 0;
    send_(request);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(waitMs_.load()), [this] { return seekAck_ || stopped_; });
    seekAck_ = false;
    // Whatever was queued belonged to the old position.
    incoming_.clear();
    incomingBytes_ = 0;
    dataArrived_ = false;
    leftover_.clear();
    leftoverPos_ = 0;
    return offset;
}

}  // namespace media
