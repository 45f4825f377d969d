// Repeats the last picture of an H.264 stream without running the encoder:
// a P picture in which every macroblock is P_Skip copies its reference
// exactly, costs a few hundred bytes and microseconds instead of a full
// libx264 pass, and keeps the stream's cadence on a still screen.
//
// The repeats are reference pictures (consecutive non-reference pictures are
// not allowed where the picture order follows frame_num), so every repeat
// takes a frame_num and the encoder's later slice headers are renumbered to
// follow on; an IDR starts the numbering again. Repeats are offered only for
// streams where they are exact: one reference frame (so the encoder's
// reference is always the last picture sent), picture order from frame_num,
// frame pictures, one slice group.
#pragma once

#include <cstdint>
#include <vector>

namespace support {

class H264Repeater {
public:
    // Parameter sets delivered apart from the pictures (an MP4 encoder's
    // global header), Annex B.
    void readHeaders(const uint8_t* data, int size);

    // One picture from the encoder (Annex B). Learns its parameter sets and
    // renumbers its slices after repeats. The result points either at `data`
    // or at a buffer of this object that stays valid until the next call.
    struct Bytes {
        const uint8_t* data;
        int size;
    };
    Bytes pass(const uint8_t* data, int size);

    // True when repeat() may be used: the parameter sets are known and allow
    // exact repeats, and a picture has been passed since.
    bool canRepeat() const { return supported_ && havePicture_; }
    // A picture that repeats the last one (Annex B, not a key frame).
    const std::vector<uint8_t>& repeat();

    // Forgets the stream (a new encoder starts).
    void reset();

    uint64_t repeats() const { return repeats_; }

private:
    void readNal(const uint8_t* nal, int size);
    void readSps(const std::vector<uint8_t>& rbsp);
    void readPps(const std::vector<uint8_t>& rbsp);
    void checkSupported();
    bool renumber(const uint8_t* nal, int size, std::vector<uint8_t>& out);
    void learn(const uint8_t* nal, int size);

    // Sequence parameters.
    bool haveSps_ = false;
    int spsId_ = 0;
    int chromaArrayType_ = 1;
    bool separateColourPlanes_ = false;
    int log2MaxFrameNum_ = 4;
    int pocType_ = 0;
    int maxRefFrames_ = 0;
    bool frameMbsOnly_ = true;
    int widthMbs_ = 0;
    int heightMbs_ = 0;
    bool scalingMatrix_ = false;
    // Picture parameters.
    bool havePps_ = false;
    int ppsId_ = 0;
    int ppsSpsId_ = 0;
    bool cabac_ = false;
    int sliceGroups_ = 1;
    int refIdxDefault_ = 1;
    bool weightedPred_ = false;
    int picInitQp_ = 26;
    bool deblockingControl_ = false;
    bool redundantPicCount_ = false;

    bool supported_ = false;
    bool havePicture_ = false;
    // frame_num of the last picture sent, and what the encoder's own numbers
    // are moved by (the repeats since its last IDR).
    uint32_t lastFrameNum_ = 0;
    uint32_t shift_ = 0;
    uint64_t repeats_ = 0;
    std::vector<uint8_t> out_;
    std::vector<uint8_t> picture_;
    std::vector<uint8_t> rbsp_;
};

}  // namespace support
