// Compressed pictures and sound frames read from files for the commands
// that act as a phone sending live media: H.264 or HEVC Annex-B streams and
// VP8 in IVF one access unit at a time, ADTS AAC one raw frame at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVPacket;

namespace phone {

class AccessUnitReader {
public:
    AccessUnitReader() = default;
    ~AccessUnitReader();
    AccessUnitReader(const AccessUnitReader&) = delete;
    AccessUnitReader& operator=(const AccessUnitReader&) = delete;

    // False with a reason in error() when the file holds no H.264, HEVC or VP8 video.
    bool open(const std::string& path);
    // The next access unit; false at the end.
    bool next(std::vector<uint8_t>& unit, bool& keyFrame);
    // 0 H.264, 1 VP8, 2 HEVC (the "codecId" of MsgLiveOpen).
    int codecId() const { return codecId_; }
    int width() const { return width_; }
    int height() const { return height_; }
    double frameRate() const { return frameRate_; }
    const std::string& error() const { return error_; }

private:
    AVFormatContext* input_ = nullptr;
    AVPacket* packet_ = nullptr;
    int stream_ = -1;
    int codecId_ = 0;
    int width_ = 0;
    int height_ = 0;
    double frameRate_ = 25;
    std::string error_;
};

// Raw AAC frames of an ADTS file and the two-byte AudioSpecificConfig that
// describes them.
struct AdtsFile {
    int sampleRate = 0;
    int channels = 0;
    std::vector<uint8_t> config;
    std::vector<std::vector<uint8_t>> frames;
};
bool readAdts(const std::string& path, AdtsFile& out, std::string& error);

}  // namespace phone
