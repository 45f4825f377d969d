// The recording file: H.264 video (libx264) and AAC audio in MP4, written as
// fragments of about one second so that a recording cut off by a crash or a
// full disk stays readable up to its last fragment.
#pragma once

#include "support/h264_repeat.h"
#include "support/my_mutex.h"

#include <atomic>
#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVCodecContext;
struct AVStream;
struct AVFrame;
struct AVPacket;

namespace record {

struct Mp4Settings {
    int width = 0;
    int height = 0;
    int frameRate = 10;
    int64_t bitRate = 0;
    bool withAudio = true;
};

class Mp4Writer {
public:
    static constexpr int kAudioRate = 44100;
    static constexpr int kAudioBitRate = 64000;

    Mp4Writer() = default;
    ~Mp4Writer();  // close() without the trailer when still open
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Creates the file, both encoders and writes the header.
    bool open(const std::string& path, const Mp4Settings& settings);

    // The picture to fill before encodeVideo (YUV 4:2:0 planar).
    AVFrame* videoPicture() { return picture_; }
    // Encodes videoPicture() with `pts` in 1 / frameRate and writes what comes
    // out. `unchanged`: the picture is the one encoded last, and goes into the
    // file as a repeat of it without running the encoder where that is exact.
    bool encodeVideo(int64_t pts, bool unchanged = false);
    // Pictures written as repeats without the encoder.
    uint64_t videoRepeats() const { return repeater_.repeats(); }
    // Samples per audio frame of the encoder (0: any count).
    int audioFrameSamples() const;
    // Encodes `frames` stereo 16-bit frames with `pts` in 1 / 44,100.
    bool encodeAudio(const int16_t* pcm, int frames, int64_t pts);

    // Drains the video encoder (called by the video thread at its end).
    void drainVideo();
    // Drains the audio encoder, writes the trailer, closes the file. True
    // when everything was written.
    bool finish();
    // Closes without the trailer (after a write failure).
    void close();

    // A write to the file failed (disk full, file too large, I/O error).
    bool writeFailed() const { return writeFailed_.load(); }
    int writeError() const { return writeError_.load(); }
    int64_t bytesWritten();

private:
    bool write(AVPacket* packet, AVCodecContext* codec, AVStream* stream);
    bool drain(AVCodecContext* codec, AVStream* stream);
    void passVideo();

    AVFormatContext* container_ = nullptr;
    AVCodecContext* video_ = nullptr;
    AVCodecContext* audio_ = nullptr;
    AVStream* videoStream_ = nullptr;
    AVStream* audioStream_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVFrame* audioFrame_ = nullptr;
    AVPacket* videoPacket_ = nullptr;
    AVPacket* audioPacket_ = nullptr;
    support::H264Repeater repeater_;
    int sinceKey_ = 0;  // pictures since the last key frame, repeats included
    support::MyMutex muxLock_;  // serialises writes into the container
    bool headerWritten_ = false;
    std::atomic<bool> writeFailed_{false};
    std::atomic<int> writeError_{0};
};

}  // namespace record
