#include "record/mp4_faststart.h"

#include "support/logger.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace record {

namespace {

constexpr const char kTempSuffix[] = ".part";

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The data must be on the disk before the rename makes it the recording:
// otherwise a power cut right after could leave an empty file in its place.
bool syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void syncFolder(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

struct Remux {
    AVFormatContext* in = nullptr;
    AVFormatContext* out = nullptr;
    AVPacket* packet = av_packet_alloc();
    ~Remux() {
        av_packet_free(&packet);
        if (out) {
            if (out->pb) avio_closep(&out->pb);
            avformat_free_context(out);
        }
        avformat_close_input(&in);
    }
};

// Copies every packet of `path` into `temp`, the index in front.
bool remux(const std::string& path, const std::string& temp,
           const std::function<bool(int64_t)>& onPacket) {
    Remux m;
    if (!m.packet) return false;
    int r = avformat_open_input(&m.in, path.c_str(), nullptr, nullptr);
    if (r < 0) {
        LOGOUT("record: cannot read %s for the rewrite: %s", path.c_str(), errorText(r).c_str());
        return false;
    }
    if ((r = avformat_find_stream_info(m.in, nullptr)) < 0) {
        LOGOUT("record: %s has no readable streams: %s", path.c_str(), errorText(r).c_str());
        return false;
    }
    if (avformat_alloc_output_context2(&m.out, nullptr, "mp4", temp.c_str()) < 0 || !m.out)
        return false;
    for (unsigned i = 0; i < m.in->nb_streams; ++i) {
        AVStream* from = m.in->streams[i];
        AVStream* to = avformat_new_stream(m.out, nullptr);
        if (!to || avcodec_parameters_copy(to->codecpar, from->codecpar) < 0) return false;
        to->codecpar->codec_tag = 0;
        to->time_base = from->time_base;
        to->avg_frame_rate = from->avg_frame_rate;
        to->r_frame_rate = from->r_frame_rate;
    }
    if ((r = avio_open(&m.out->pb, temp.c_str(), AVIO_FLAG_WRITE)) < 0) {
        LOGOUT("record: cannot create %s: %s", temp.c_str(), errorText(r).c_str());
        return false;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    r = avformat_write_header(m.out, &options);
    av_dict_free(&options);
    if (r < 0) {
        LOGOUT("record: cannot start %s: %s", temp.c_str(), errorText(r).c_str());
        return false;
    }
    int64_t packets = 0;
    for (;;) {
        r = av_read_frame(m.in, m.packet);
        if (r == AVERROR_EOF) break;
        if (r < 0) {
            LOGOUT("record: reading %s failed: %s", path.c_str(), errorText(r).c_str());
            return false;
        }
        const int index = m.packet->stream_index;
        if (index < 0 || unsigned(index) >= m.out->nb_streams) {
            av_packet_unref(m.packet);
            continue;
        }
        av_packet_rescale_ts(m.packet, m.in->streams[index]->time_base,
                             m.out->streams[index]->time_base);
        m.packet->pos = -1;
        r = av_interleaved_write_frame(m.out, m.packet);
        if (r < 0) {
            LOGOUT("record: writing %s failed: %s", temp.c_str(), errorText(r).c_str());
            return false;
        }
        ++packets;
        if (onPacket && !onPacket(packets)) {
            LOGOUT("record: the rewrite of %s was given up", path.c_str());
            return false;
        }
    }
    if (packets == 0) {
        LOGOUT("record: %s holds no pictures or sound", path.c_str());
        return false;
    }
    // The trailer writes the index and moves it in front of the media.
    r = av_write_trailer(m.out);
    if (r >= 0 && m.out->pb->error < 0) r = m.out->pb->error;
    if (r < 0) {
        LOGOUT("record: finishing %s failed: %s", temp.c_str(), errorText(r).c_str());
        return false;
    }
    return avio_closep(&m.out->pb) >= 0;
}

}  // namespace

std::string rewriteTempPath(const std::string& path) {
    const std::filesystem::path p(path);
    return (p.parent_path() / ("." + p.filename().string() + kTempSuffix)).string();
}

bool rewriteAsRegularMp4(const std::string& path, const std::function<bool(int64_t)>& onPacket) {
    const std::string temp = rewriteTempPath(path);
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    if (!remux(path, temp, onPacket) || !syncFile(temp)) {
        std::filesystem::remove(temp, ec);
        LOGOUT("record: %s stays a fragmented MP4", path.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        LOGOUT("record: cannot replace %s: %s", path.c_str(), std::strerror(errno));
        std::filesystem::remove(temp, ec);
        return false;
    }
    syncFolder(path);
    return true;
}

void removeStaleRewrites(const std::string& folder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 1 && name[0] == '.' && endsWith(name, std::string(".MP4") + kTempSuffix)) {
            std::error_code removeError;
            if (std::filesystem::remove(entry.path(), removeError))
                LOGOUT("record: removed %s, left by an interrupted rewrite", name.c_str());
        }
    }
}

}  // namespace record
