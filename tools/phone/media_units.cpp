#include "phone/media_units.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <fstream>
#include <iterator>

namespace phone {

AccessUnitReader::~AccessUnitReader() {
    av_packet_free(&packet_);
    avformat_close_input(&input_);
}

bool AccessUnitReader::open(const std::string& path) {
    if (avformat_open_input(&input_, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(input_, nullptr) < 0) {
        error_ = "cannot read " + path;
        return false;
    }
    stream_ = av_find_best_stream(input_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream_ < 0) {
        error_ = path + " holds no video";
        return false;
    }
    const AVStream* s = input_->streams[stream_];
    switch (s->codecpar->codec_id) {
    case AV_CODEC_ID_H264: codecId_ = 0; break;
    case AV_CODEC_ID_VP8: codecId_ = 1; break;
    case AV_CODEC_ID_HEVC: codecId_ = 2; break;
    default:
        error_ = path + ": only H.264, VP8 and HEVC video can be sent";
        return false;
    }
    width_ = s->codecpar->width;
    height_ = s->codecpar->height;
    if (s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0) frameRate_ = av_q2d(s->avg_frame_rate);
    else if (s->r_frame_rate.num > 0 && s->r_frame_rate.den > 0) frameRate_ = av_q2d(s->r_frame_rate);
    packet_ = av_packet_alloc();
    return packet_ != nullptr;
}

bool AccessUnitReader::next(std::vector<uint8_t>& unit, bool& keyFrame) {
    while (input_ && packet_ && av_read_frame(input_, packet_) >= 0) {
        if (packet_->stream_index != stream_) {
            av_packet_unref(packet_);
            continue;
        }
        unit.assign(packet_->data, packet_->data + packet_->size);
        keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet_);
        return true;
    }
    return false;
}

bool readAdts(const std::string& path, AdtsFile& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                16000, 12000, 11025, 8000,  7350};
    size_t i = 0;
    while (i + 7 <= bytes.size()) {
        const uint8_t* h = bytes.data() + i;
        if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) {
            error = path + ": not an ADTS stream at byte " + std::to_string(i);
            return false;
        }
        const bool crc = (h[1] & 1) == 0;
        const int profile = (h[2] >> 6) & 3;
        const int rateIndex = (h[2] >> 2) & 0xF;
        const int channels = ((h[2] & 1) << 2) | (h[3] >> 6);
        const size_t length = (size_t(h[3] & 3) << 11) | (size_t(h[4]) << 3) | (h[5] >> 5);
        const size_t header = crc ? 9 : 7;
        if (length < header || i + length > bytes.size() || rateIndex > 12) {
            error = path + ": broken ADTS frame at byte " + std::to_string(i);
            return false;
        }
        if (out.frames.empty()) {
            out.sampleRate = rates[rateIndex];
            out.channels = channels;
            const int objectType = profile + 1;
            out.config = {uint8_t((objectType << 3) | (rateIndex >> 1)),
                          uint8_t(((rateIndex & 1) << 7) | (channels << 3))};
        }
        out.frames.emplace_back(h + header, h + length);
        i += length;
    }
    if (out.frames.empty()) {
        error = path + ": no AAC frames";
        return false;
    }
    return true;
}

}  // namespace phone
