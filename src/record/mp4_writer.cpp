#include "record/mp4_writer.h"

#include "support/logger.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>

namespace record {

namespace {

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Opens the encoder for the container and gives the stream its parameters;
// logs and returns false when the encoder will not open.
bool openEncoder(AVFormatContext* container, AVCodecContext* context, const AVCodec* codec, AVStream* stream,
                 const char* what) {
    if (container->oformat->flags & AVFMT_GLOBALHEADER) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int r = avcodec_open2(context, codec, nullptr);
    if (r < 0) {
        LOGOUT("record: %s encoder failed: %s", what, errorText(r).c_str());
        return false;
    }
    avcodec_parameters_from_context(stream->codecpar, context);
    stream->time_base = context->time_base;
    return true;
}

}  // namespace

Mp4Writer::~Mp4Writer() { close(); }

bool Mp4Writer::open(const std::string& path, const Mp4Settings& s) {
    close();
    writeFailed_ = false;
    writeError_ = 0;
    if (avformat_alloc_output_context2(&container_, nullptr, nullptr, path.c_str()) < 0 || !container_) {
        LOGOUT("record: no container for %s", path.c_str());
        return false;
    }

    // Video: H.264 at the given rate, low delay, fastest preset.
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264) h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!h264) {
        LOGOUT("record: no H.264 encoder");
        close();
        return false;
    }
    videoStream_ = avformat_new_stream(container_, nullptr);
    video_ = avcodec_alloc_context3(h264);
    if (!videoStream_ || !video_) {
        close();
        return false;
    }
    video_->bit_rate = s.bitRate;
    video_->bit_rate_tolerance = int(s.bitRate / 2);
    video_->width = s.width;
    video_->height = s.height;
    video_->time_base = AVRational{1, s.frameRate};
    video_->framerate = AVRational{s.frameRate, 1};
    video_->gop_size = 5 * s.frameRate;
    video_->pix_fmt = AV_PIX_FMT_YUV420P;
    video_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // At 5 to 30 frames per second one thread keeps up; slice threads only
    // add synchronisation work.
    video_->thread_count = 1;
    av_opt_set(video_->priv_data, "tune", "zerolatency", 0);
    av_opt_set(video_->priv_data, "preset", "ultrafast", 0);
    if (!openEncoder(container_, video_, h264, videoStream_, "H.264")) {
        close();
        return false;
    }
    // The parameter sets are in the global header, not in the pictures.
    repeater_.reset();
    sinceKey_ = 0;
    if (video_->extradata) repeater_.readHeaders(video_->extradata, video_->extradata_size);

    picture_ = av_frame_alloc();
    picture_->format = AV_PIX_FMT_YUV420P;
    picture_->width = s.width;
    picture_->height = s.height;
    if (av_frame_get_buffer(picture_, 32) < 0) {
        close();
        return false;
    }
    videoPacket_ = av_packet_alloc();
    audioPacket_ = av_packet_alloc();

    if (s.withAudio) {
        // Audio: AAC 64 kbit/s, 44.1 kHz stereo.
        const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        audioStream_ = aac ? avformat_new_stream(container_, nullptr) : nullptr;
        audio_ = aac ? avcodec_alloc_context3(aac) : nullptr;
        if (!audio_ || !audioStream_) {
            LOGOUT("record: no AAC encoder");
            close();
            return false;
        }
        // The encoder takes its own sample format (planar float for FFmpeg's
        // AAC); the 16-bit PCM is converted per frame.
        audio_->sample_fmt = aac->sample_fmts ? aac->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        for (const AVSampleFormat* f = aac->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == AV_SAMPLE_FMT_S16) audio_->sample_fmt = AV_SAMPLE_FMT_S16;
        audio_->bit_rate = kAudioBitRate;
        audio_->sample_rate = kAudioRate;
        av_channel_layout_default(&audio_->ch_layout, 2);
        audio_->time_base = AVRational{1, kAudioRate};
        if (!openEncoder(container_, audio_, aac, audioStream_, "AAC")) {
            close();
            return false;
        }
        audioFrame_ = av_frame_alloc();
        audioFrame_->format = audio_->sample_fmt;
        audioFrame_->sample_rate = kAudioRate;
        av_channel_layout_copy(&audioFrame_->ch_layout, &audio_->ch_layout);
        audioFrame_->nb_samples = audio_->frame_size > 0 ? audio_->frame_size : 4096;
        if (av_frame_get_buffer(audioFrame_, 0) < 0) {
            close();
            return false;
        }
    }

    LOGOUT("record: %s, H.264 %dx%d at %d fps, %lld bit/s%s", path.c_str(), s.width, s.height,
           s.frameRate, static_cast<long long>(s.bitRate),
           s.withAudio ? ", AAC 44100 Hz stereo 64000 bit/s" : "");

    int r = 0;
    if (!(container_->oformat->flags & AVFMT_NOFILE)) {
        r = avio_open(&container_->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (r < 0) {
            LOGOUT("record: cannot create %s: %s", path.c_str(), errorText(r).c_str());
            close();
            return false;
        }
    }
    // Fragments of one second: the file stays readable when the program dies
    // or the disk fills before the trailer is written.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", "1000000", 0);
    container_->flush_packets = 1;
    r = avformat_write_header(container_, &options);
    av_dict_free(&options);
    // The header may land in the I/O buffer and fail only when flushed.
    if (r >= 0 && container_->pb) {
        avio_flush(container_->pb);
        if (container_->pb->error < 0) r = container_->pb->error;
    }
    if (r < 0) {
        LOGOUT("record: cannot write the header of %s: %s", path.c_str(), errorText(r).c_str());
        close();
        return false;
    }
    headerWritten_ = true;
    return true;
}

int Mp4Writer::audioFrameSamples() const { return audio_ ? audio_->frame_size : 0; }

bool Mp4Writer::write(AVPacket* packet, AVCodecContext* codec, AVStream* stream) {
    packet->stream_index = stream->index;
    // libx264 leaves the duration at 0, which would cost the last frame.
    if (packet->duration == 0) packet->duration = codec == video_ ? 1 : codec->frame_size;
    av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
    std::lock_guard<support::MyMutex> lock(muxLock_);
    if (writeFailed_) {
        av_packet_unref(packet);
        return false;
    }
    int r = av_interleaved_write_frame(container_, packet);
    if (r >= 0 && container_->pb && container_->pb->error < 0) r = container_->pb->error;
    if (r < 0) {
        // EINVAL and the like drop one packet; failures of the file stop writing.
        if (r == AVERROR(ENOSPC) || r == AVERROR(EFBIG) || r == AVERROR(EIO) || r == AVERROR(EDQUOT) ||
            (container_->pb && container_->pb->error < 0)) {
            writeError_ = r;
            writeFailed_ = true;
            LOGOUT("record: writing the file failed: %s", errorText(r).c_str());
        }
        return false;
    }
    return true;
}

bool Mp4Writer::encodeVideo(int64_t pts, bool unchanged) {
    if (!video_ || writeFailed_) return false;
    // A key frame every GOP whether the pictures were repeats or not: the
    // fragments and seeking need them.
    const bool keyDue = sinceKey_ + 1 >= video_->gop_size;
    if (unchanged && !keyDue && repeater_.canRepeat()) {
        const std::vector<uint8_t>& same = repeater_.repeat();
        if (av_new_packet(videoPacket_, int(same.size())) < 0) return false;
        std::memcpy(videoPacket_->data, same.data(), same.size());
        videoPacket_->pts = videoPacket_->dts = pts;
        videoPacket_->duration = 1;
        ++sinceKey_;
        write(videoPacket_, video_, videoStream_);
        return !writeFailed_;
    }
    picture_->pts = pts;
    picture_->pict_type = keyDue ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(video_, picture_) < 0) return false;  // the picture is skipped
    while (avcodec_receive_packet(video_, videoPacket_) >= 0) passVideo();
    return !writeFailed_;
}

// Writes the encoder's packet, renumbered after repeats where needed.
void Mp4Writer::passVideo() {
    sinceKey_ = (videoPacket_->flags & AV_PKT_FLAG_KEY) ? 0 : sinceKey_ + 1;
    const support::H264Repeater::Bytes out = repeater_.pass(videoPacket_->data, videoPacket_->size);
    if (out.data == videoPacket_->data) {
        write(videoPacket_, video_, videoStream_);
        return;
    }
    AVPacket* moved = av_packet_alloc();
    if (moved && av_new_packet(moved, out.size) == 0 && av_packet_copy_props(moved, videoPacket_) == 0) {
        std::memcpy(moved->data, out.data, size_t(out.size));
        write(moved, video_, videoStream_);
    }
    av_packet_free(&moved);
    av_packet_unref(videoPacket_);
}

bool Mp4Writer::encodeAudio(const int16_t* pcm, int frames, int64_t pts) {
    if (!audio_ || writeFailed_ || frames <= 0) return false;
    if (av_frame_make_writable(audioFrame_) < 0) return false;
    audioFrame_->nb_samples = frames;
    audioFrame_->pts = pts;
    if (audio_->sample_fmt == AV_SAMPLE_FMT_FLTP) {
        auto* left = reinterpret_cast<float*>(audioFrame_->data[0]);
        auto* right = reinterpret_cast<float*>(audioFrame_->data[1]);
        for (int i = 0; i < frames; ++i) {
            left[i] = pcm[2 * i] / 32768.0f;
            right[i] = pcm[2 * i + 1] / 32768.0f;
        }
    } else if (audio_->sample_fmt == AV_SAMPLE_FMT_S16) {
        std::copy_n(pcm, size_t(frames) * 2, reinterpret_cast<int16_t*>(audioFrame_->data[0]));
    } else {
        return false;
    }
    if (avcodec_send_frame(audio_, audioFrame_) < 0) return false;  // the frame is skipped
    while (avcodec_receive_packet(audio_, audioPacket_) >= 0) write(audioPacket_, audio_, audioStream_);
    return !writeFailed_;
}

bool Mp4Writer::drain(AVCodecContext* codec, AVStream* stream) {
    if (!codec) return true;
    AVPacket* packet = codec == video_ ? videoPacket_ : audioPacket_;
    if (avcodec_send_frame(codec, nullptr) < 0) return false;
    while (avcodec_receive_packet(codec, packet) >= 0) {
        if (codec == video_)
            passVideo();
        else
            write(packet, codec, stream);
    }
    return !writeFailed_;
}

void Mp4Writer::drainVideo() { drain(video_, videoStream_); }

bool Mp4Writer::finish() {
    if (!container_) return false;
    bool ok = drain(audio_, audioStream_);
    if (headerWritten_) {
        std::lock_guard<support::MyMutex> lock(muxLock_);
        const int r = av_write_trailer(container_);
        if (r < 0 || (container_->pb && container_->pb->error < 0)) {
            LOGOUT("record: writing the end of the file failed: %s",
                   errorText(r < 0 ? r : container_->pb->error).c_str());
            ok = false;
        }
        headerWritten_ = false;
    }
    ok = ok && !writeFailed_;
    close();
    return ok;
}

int64_t Mp4Writer::bytesWritten() {
    std::lock_guard<support::MyMutex> lock(muxLock_);
    return container_ && container_->pb ? avio_tell(container_->pb) : 0;
}

void Mp4Writer::close() {
    if (container_ && container_->pb && !(container_->oformat->flags & AVFMT_NOFILE))
        avio_closep(&container_->pb);
    avformat_free_context(container_);
    container_ = nullptr;
    videoStream_ = audioStream_ = nullptr;
    headerWritten_ = false;
    avcodec_free_context(&video_);
    avcodec_free_context(&audio_);
    av_frame_free(&picture_);
    av_frame_free(&audioFrame_);
    av_packet_free(&videoPacket_);
    av_packet_free(&audioPacket_);
}

}  // namespace record
