#include "support/h264_repeat.h"

#include "support/logger.h"

#include <algorithm>

namespace support {

namespace {

// NAL unit types.
constexpr int kSlice = 1;
constexpr int kIdrSlice = 5;
constexpr int kSps = 7;
constexpr int kPps = 8;

// Calls `f(nal, size)` for every NAL unit of an Annex B buffer (start codes
// of three or four bytes; the NAL starts at its header byte).
template <typename F>
void forEachNal(const uint8_t* data, int size, F&& f) {
    int i = 0, start = -1;
    while (i + 2 < size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start >= 0) {
                int end = i;
                while (end > start && data[end - 1] == 0) --end;  // the next start code's zero
                f(data + start, end - start);
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start >= 0 && start < size) f(data + start, size - start);
}

// The payload of a NAL unit (after its header byte) without emulation
// prevention bytes.
void unescape(const uint8_t* nal, int size, std::vector<uint8_t>& rbsp) {
    rbsp.clear();
    int zeros = 0;
    for (int i = 1; i < size; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(nal[i]);
    }
}

// Appends `rbsp` with emulation prevention bytes: no 00 00 0x (x <= 3) in
// the payload, and no payload ending in 00.
void escapeInto(const std::vector<uint8_t>& rbsp, std::vector<uint8_t>& out) {
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    if (!rbsp.empty() && rbsp.back() == 0) out.push_back(3);
}

class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t u(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 1) | bit();
        return v;
    }
    uint32_t ue() {
        int zeros = 0;
        while (!bit()) {
            if (++zeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        return zeros ? ((1u << zeros) - 1 + u(zeros)) : 0;
    }
    int32_t se() {
        const uint32_t k = ue();
        return (k & 1) ? int32_t((k + 1) / 2) : -int32_t(k / 2);
    }
    size_t position() const { return pos_; }
    bool failed() const { return failed_; }

private:
    uint32_t bit() {
        if (pos_ >= bytes_.size() * 8) {
            failed_ = true;
            return 1;  // ends ue() loops at once
        }
        const uint32_t b = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
        ++pos_;
        return b;
    }
    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 0;
    bool failed_ = false;
};

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void bit(uint32_t b) {
        if (used_ == 0) out_.push_back(0);
        if (b) out_.back() |= uint8_t(0x80 >> used_);
        used_ = (used_ + 1) & 7;
    }
    void u(int n, uint32_t v) {
        for (int i = n - 1; i >= 0; --i) bit((v >> i) & 1);
    }
    void ue(uint32_t v) {
        const uint64_t x = uint64_t(v) + 1;
        int bits = 0;
        while ((x >> bits) > 1) ++bits;
        u(bits, 0);
        for (int i = bits; i >= 0; --i) bit(uint32_t(x >> i) & 1);
    }
    void se(int32_t v) { ue(v > 0 ? uint32_t(2 * v - 1) : uint32_t(-2 * int64_t(v))); }
    bool aligned() const { return used_ == 0; }

private:
    std::vector<uint8_t>& out_;
    int used_ = 0;
};

// Writes `value` into `bits` bits of `bytes` from bit `position` on.
void overwrite(std::vector<uint8_t>& bytes, size_t position, int bits, uint32_t value) {
    for (int i = 0; i < bits; ++i, ++position) {
        const uint8_t mask = uint8_t(0x80 >> (position % 8));
        if ((value >> (bits - 1 - i)) & 1)
            bytes[position / 8] |= mask;
        else
            bytes[position / 8] &= uint8_t(~mask);
    }
}

// The arithmetic coder of H.264's CABAC, encoding side, with the state
// tables of the standard. Only what a slice of skipped macroblocks needs:
// decisions in one context and the end-of-slice bin.
class CabacWriter {
public:
    explicit CabacWriter(BitWriter& out) : out_(out) {}

    struct Context {
        int state;
        int mps;
    };
    // Context initialisation from its (m, n) pair and the slice QP.
    static Context context(int m, int n, int qp) {
        const int pre = std::clamp(((m * std::clamp(qp, 0, 51)) >> 4) + n, 1, 126);
        return pre <= 63 ? Context{63 - pre, 0} : Context{pre - 64, 1};
    }

    void decision(Context& ctx, int bin) {
        const uint32_t lps = kRangeLps[ctx.state][(range_ >> 6) & 3];
        range_ -= lps;
        if (bin != ctx.mps) {
            low_ += range_;
            range_ = lps;
            if (ctx.state == 0) ctx.mps = 1 - ctx.mps;
            ctx.state = kNextLps[ctx.state];
        } else {
            ctx.state = std::min(ctx.state + 1, 62);
        }
        renormalise();
    }
    // end_of_slice_flag; 1 also flushes the coder, whose last bit is the
    // slice's stop bit.
    void terminate(int bin) {
        range_ -= 2;
        if (bin) {
            low_ += range_;
            range_ = 2;
            renormalise();
            put((low_ >> 9) & 1);
            out_.u(2, ((low_ >> 7) & 3) | 1);
        } else {
            renormalise();
        }
    }

private:
    void renormalise() {
        while (range_ < 256) {
            if (low_ < 256) {
                put(0);
            } else if (low_ >= 512) {
                low_ -= 512;
                put(1);
            } else {
                low_ -= 256;
                ++outstanding_;
            }
            range_ <<= 1;
            low_ <<= 1;
        }
    }
    void put(uint32_t b) {
        if (first_)
            first_ = false;
        else
            out_.bit(b);
        for (; outstanding_ > 0; --outstanding_) out_.bit(1 - b);
    }

    static const uint8_t kRangeLps[64][4];
    static const uint8_t kNextLps[64];

    BitWriter& out_;
    uint32_t low_ = 0;
    uint32_t range_ = 510;
    int outstanding_ = 0;
    bool first_ = true;
};

const uint8_t CabacWriter::kRangeLps[64][4] = {
    {128, 176, 208, 240}, {128, 167, 197, 227}, {128, 158, 187, 216}, {123, 150, 178, 205},
    {116, 142, 169, 195}, {111, 135, 160, 185}, {105, 128, 152, 175}, {100, 122, 144, 166},
    {95, 116, 137, 158},  {90, 110, 130, 150},  {85, 104, 123, 142},  {81, 99, 117, 135},
    {77, 94, 111, 128},   {73, 89, 105, 122},   {69, 85, 100, 116},   {66, 80, 95, 110},
    {62, 76, 90, 104},    {59, 72, 86, 99},     {56, 69, 81, 94},     {53, 65, 77, 89},
    {51, 62, 73, 85},     {48, 59, 69, 80},     {46, 56, 66, 76},     {43, 53, 63, 72},
    {41, 50, 59, 69},     {39, 48, 56, 65},     {37, 45, 54, 62},     {35, 43, 51, 59},
    {33, 41, 48, 56},     {32, 39, 46, 53},     {30, 37, 43, 50},     {29, 35, 41, 48},
    {27, 33, 39, 45},     {26, 31, 37, 43},     {24, 30, 35, 41},     {23, 28, 33, 39},
    {22, 27, 32, 37},     {21, 26, 30, 35},     {20, 24, 29, 33},     {19, 23, 27, 31},
    {18, 22, 26, 30},     {17, 21, 25, 28},     {16, 20, 23, 27},     {15, 19, 22, 25},
    {14, 18, 21, 24},     {14, 17, 20, 23},     {13, 16, 19, 22},     {12, 15, 18, 21},
    {12, 14, 17, 20},     {11, 14, 16, 19},     {11, 13, 15, 18},     {10, 12, 15, 17},
    {10, 12, 14, 16},     {9, 11, 13, 15},      {9, 11, 12, 14},      {8, 10, 12, 14},
    {8, 9, 11, 13},       {7, 9, 11, 12},       {7, 9, 10, 12},       {7, 8, 10, 11},
    {6, 8, 9, 11},        {6, 7, 9, 10},        {6, 7, 8, 9},         {2, 2, 2, 2},
};

const uint8_t CabacWriter::kNextLps[64] = {
    0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9,  11, 11, 12, 13, 13, 15, 15, 16, 16,
    18, 18, 19, 19, 21, 21, 22, 22, 23, 24, 24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30,
    31, 32, 32, 33, 33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63,
};

// (m, n) of the first mb_skip_flag context of P slices for cabac_init_idc 0.
constexpr int kSkipFlagM = 23;
constexpr int kSkipFlagN = 33;

void skipScalingList(BitReader& r, int entries) {
    int last = 8, next = 8;
    for (int j = 0; j < entries; ++j) {
        if (next != 0) next = (last + r.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

}  // namespace

void H264Repeater::reset() { *this = H264Repeater(); }

void H264Repeater::readHeaders(const uint8_t* data, int size) {
    forEachNal(data, size, [this](const uint8_t* nal, int n) { readNal(nal, n); });
}

void H264Repeater::readNal(const uint8_t* nal, int size) {
    if (size < 2) return;
    const int type = nal[0] & 0x1f;
    if (type == kSps || type == kPps) {
        unescape(nal, size, rbsp_);
        if (type == kSps)
            readSps(rbsp_);
        else
            readPps(rbsp_);
        checkSupported();
    }
}

void H264Repeater::readSps(const std::vector<uint8_t>& rbsp) {
    BitReader r(rbsp);
    const uint32_t profile = r.u(8);
    r.u(16);  // constraint flags, level
    spsId_ = int(r.ue());
    chromaArrayType_ = 1;
    separateColourPlanes_ = false;
    scalingMatrix_ = false;
    static const uint32_t kHighProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(kHighProfiles), std::end(kHighProfiles), profile) != std::end(kHighProfiles)) {
        const uint32_t chromaFormat = r.ue();
        chromaArrayType_ = int(chromaFormat);
        if (chromaFormat == 3) {
            separateColourPlanes_ = r.u(1) != 0;
            if (separateColourPlanes_) chromaArrayType_ = 0;
        }
        r.ue();   // luma bit depth
        r.ue();   // chroma bit depth
        r.u(1);   // qpprime_y_zero_transform_bypass_flag
        if (r.u(1)) {
            scalingMatrix_ = true;
            const int lists = chromaFormat != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i)
                if (r.u(1)) skipScalingList(r, i < 6 ? 16 : 64);
        }
    }
    log2MaxFrameNum_ = int(r.ue()) + 4;
    pocType_ = int(r.ue());
    if (pocType_ == 0) {
        r.ue();
    } else if (pocType_ == 1) {
        r.u(1);
        r.se();
        r.se();
        const uint32_t cycle = r.ue();
        for (uint32_t i = 0; i < cycle && !r.failed(); ++i) r.se();
    }
    maxRefFrames_ = int(r.ue());
    r.u(1);  // gaps_in_frame_num_value_allowed_flag
    widthMbs_ = int(r.ue()) + 1;
    heightMbs_ = int(r.ue()) + 1;
    frameMbsOnly_ = r.u(1) != 0;
    haveSps_ = !r.failed() && log2MaxFrameNum_ <= 16;
}

void H264Repeater::readPps(const std::vector<uint8_t>& rbsp) {
    BitReader r(rbsp);
    ppsId_ = int(r.ue());
    ppsSpsId_ = int(r.ue());
    cabac_ = r.u(1) != 0;
    r.u(1);  // bottom_field_pic_order_in_frame_present_flag
    sliceGroups_ = int(r.ue()) + 1;
    havePps_ = false;
    if (sliceGroups_ != 1) return;  // the rest is not read
    refIdxDefault_ = int(r.ue()) + 1;
    r.ue();  // list 1
    weightedPred_ = r.u(1) != 0;
    r.u(2);  // weighted_bipred_idc
    picInitQp_ = 26 + r.se();
    r.se();  // pic_init_qs
    r.se();  // chroma_qp_index_offset
    deblockingControl_ = r.u(1) != 0;
    r.u(1);  // constrained_intra_pred_flag
    redundantPicCount_ = r.u(1) != 0;
    havePps_ = !r.failed();
}

void H264Repeater::checkSupported() {
    const bool was = supported_;
    supported_ = haveSps_ && havePps_ && ppsSpsId_ == spsId_ && !separateColourPlanes_ && pocType_ == 2 &&
                 maxRefFrames_ == 1 && frameMbsOnly_ && sliceGroups_ == 1 && widthMbs_ > 0 && heightMbs_ > 0;
    if (haveSps_ && havePps_ && was != supported_ && !supported_)
        LOGOUT("H264Repeater: repeats go through the encoder (picture order %d, %d reference frames, "
               "frame pictures only %d, slice groups %d)",
               pocType_, maxRefFrames_, frameMbsOnly_ ? 1 : 0, sliceGroups_);
    if (!supported_) havePicture_ = false;
}

H264Repeater::Bytes H264Repeater::pass(const uint8_t* data, int size) {
    static const uint8_t kStart[] = {0, 0, 0, 1};
    bool rewritten = false;
    out_.clear();
    forEachNal(data, size, [&](const uint8_t* nal, int n) {
        if (n < 1) return;
        const int type = nal[0] & 0x1f;
        readNal(nal, n);
        if (type == kIdrSlice) shift_ = 0;
        if ((type == kSlice || type == kIdrSlice) && supported_) {
            if (type == kSlice && shift_ != 0 && renumber(nal, n, out_)) {
                rewritten = true;
                return;
            }
            learn(nal, n);
        }
        out_.insert(out_.end(), kStart, kStart + 4);
        out_.insert(out_.end(), nal, nal + n);
    });
    if (rewritten) return Bytes{out_.data(), int(out_.size())};
    return Bytes{data, size};
}

// Notes the frame number of a slice that goes out unchanged.
void H264Repeater::learn(const uint8_t* nal, int size) {
    unescape(nal, std::min(size, 64), rbsp_);
    BitReader r(rbsp_);
    r.ue();  // first_mb_in_slice
    r.ue();  // slice_type
    const int pps = int(r.ue());
    const uint32_t frameNum = r.u(log2MaxFrameNum_);
    if (!r.failed() && pps == ppsId_ && (nal[0] & 0x60) != 0) {
        lastFrameNum_ = frameNum;
        havePicture_ = true;
    } else {
        havePicture_ = false;  // a repeat would not copy this picture
    }
}

// Moves the frame_num of a non-IDR slice by shift_ and appends the slice
// (start code, header byte, escaped payload) to `out`.
bool H264Repeater::renumber(const uint8_t* nal, int size, std::vector<uint8_t>& out) {
    unescape(nal, size, rbsp_);
    BitReader r(rbsp_);
    r.ue();  // first_mb_in_slice
    r.ue();  // slice_type
    const int pps = int(r.ue());
    const size_t at = r.position();
    const uint32_t frameNum = r.u(log2MaxFrameNum_);
    if (r.failed() || pps != ppsId_) {
        havePicture_ = false;
        return false;
    }
    const uint32_t mask = (1u << log2MaxFrameNum_) - 1;
    const uint32_t moved = (frameNum + shift_) & mask;
    overwrite(rbsp_, at, log2MaxFrameNum_, moved);
    static const uint8_t kStart[] = {0, 0, 0, 1};
    out.insert(out.end(), kStart, kStart + 4);
    out.push_back(nal[0]);
    escapeInto(rbsp_, out);
    if ((nal[0] & 0x60) != 0) {
        lastFrameNum_ = moved;
        havePicture_ = true;
    } else {
        havePicture_ = false;  // a repeat would copy the picture before it
    }
    return true;
}

const std::vector<uint8_t>& H264Repeater::repeat() {
    const uint32_t mask = (1u << log2MaxFrameNum_) - 1;
    const uint32_t frameNum = (lastFrameNum_ + 1) & mask;
    rbsp_.clear();
    BitWriter w(rbsp_);
    w.ue(0);  // first_mb_in_slice
    w.ue(5);  // slice_type: P, every slice of the picture
    w.ue(uint32_t(ppsId_));
    w.u(log2MaxFrameNum_, frameNum);
    if (redundantPicCount_) w.ue(0);
    // One reference: the last picture.
    if (refIdxDefault_ != 1) {
        w.u(1, 1);
        w.ue(0);
    } else {
        w.u(1, 0);
    }
    w.u(1, 0);  // ref_pic_list_modification_flag_l0
    if (weightedPred_) {
        // Default weights: the copy stays exact.
        w.ue(0);
        if (chromaArrayType_ != 0) w.ue(0);
        w.u(1, 0);
        if (chromaArrayType_ != 0) w.u(1, 0);
    }
    w.u(1, 0);  // adaptive_ref_pic_marking_mode_flag: sliding window
    if (cabac_) w.ue(0);  // cabac_init_idc
    w.se(0);              // slice_qp_delta
    if (deblockingControl_) w.ue(1);  // no deblocking (nothing to filter anyway)
    const uint32_t mbs = uint32_t(widthMbs_) * uint32_t(heightMbs_);
    if (!cabac_) {
        w.ue(mbs);  // mb_skip_run: the whole picture
        w.bit(1);   // rbsp_stop_one_bit
        while (!w.aligned()) w.bit(0);
    } else {
        while (!w.aligned()) w.bit(1);  // cabac_alignment_one_bit
        CabacWriter cabac(w);
        CabacWriter::Context skip = CabacWriter::context(kSkipFlagM, kSkipFlagN, picInitQp_);
        // With every neighbour skipped, the skip flag's context is always the
        // first one.
        for (uint32_t i = 0; i < mbs; ++i) {
            cabac.decision(skip, 1);
            cabac.terminate(i + 1 == mbs ? 1 : 0);
        }
        while (!w.aligned()) w.bit(0);
    }
    picture_.assign({0, 0, 0, 1, 0x41});  // nal_ref_idc 2, non-IDR slice
    escapeInto(rbsp_, picture_);
    lastFrameNum_ = frameNum;
    shift_ = (shift_ + 1) & mask;
    ++repeats_;
    return picture_;
}

}  // namespace support
