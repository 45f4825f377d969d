// Live pictures, phone audio, the media player and the lesson recorder.
#include "core/settings.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/logger.h"
#include "support/strings.h"
#include "ui/main/dispatch_handlers.h"

#include <sys/stat.h>
#include <unistd.h>

namespace ui::dispatch {

namespace field = protocol::field;

namespace {

bool isReadableFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), R_OK) == 0;
}

}  // namespace

void handleLive(const Request& request) {
    const int action = request.message[field::action].asInt();
    withFeature(request.context.features.liveStream, "live stream", request,
                [&](auto& live) { live.liveRequest(request.socket, action); });
}

void handleLiveOpen(const Request& request) {
    const Json::Value& m = request.message;
    const int64_t width = m[field::width].asInt();
    const int64_t height = m[field::height].asInt();
    const int codecId = m[field::codecId].asInt();
    const int pixelFormat = m[field::pixelFormat].asInt();
    post(request, core::UM_LIVE_OPEN, width + (height << 16), ((codecId & 3) << 1) | (pixelFormat & 1));
    request.context.liveSourceSocket.store(request.socket);
}

void handleLiveData(const Request& request) {
    // Flags of 2 and above mark data that is not video.
    if (request.message[field::flag].asInt() >= 2)
        return;
    withFeature(request.context.features.liveView, "live view", request,
                [&](auto& view) { view.videoData(request.data, request.dataLength); });
}

void handleLiveClose(const Request& request) {
    post(request, core::UM_MEDIA_CLOSE, 0, 0);
    request.context.liveSourceSocket.store(-1);
}

void handleAudioPlayStart(const Request& request) {
    const int channels = request.message[field::channels].asInt();
    const int sampleRate = request.message[field::sampleRate].asInt();
    withFeature(request.context.features.phoneAudio, "phone audio", request, [&](auto& audio) {
        audio.start(channels, sampleRate, request.data, request.dataLength);
    });
}

void handleAudioPlayData(const Request& request) {
    withFeature(request.context.features.phoneAudio, "phone audio", request,
                [&](auto& audio) { audio.data(request.data, request.dataLength); });
}

void handleAudioPlayStop(const Request& request) {
    withFeature(request.context.features.phoneAudio, "phone audio", request,
                [&](auto& audio) { audio.stop(); });
}

void handleMediaPlay(const Request& request) {
    switch (request.message[field::action].asInt()) {
    case 0:
        post(request, core::UM_MEDIA_CLOSE, 0, 0);
        break;
    case 2:
        post(request, core::UM_MEDIA_PAUSE, 1, 0);
        break;
    case 3:
        post(request, core::UM_MEDIA_PAUSE, 0, 0);
        break;
    case 4: {
        auto block = std::make_unique<core::PositionBlock>();
        block->position = request.message[field::position].asInt64();
        post(request, core::UM_MEDIA_SEEK, 0, 0, std::move(block));
        break;
    }
    default:
        break;
    }
}

void handleMediaPlayer(const Request& request) {
    const Json::Value& m = request.message;
    switch (m[field::action].asInt()) {
    case 0: {
        auto block = std::make_unique<core::MediaFileBlock>();
        block->name = support::truncateUtf16Units(m[field::fileName].asString(), core::kMediaFileNameUnits);
        block->size = m[field::fileSize].asInt64();
        block->socket = request.socket;
        post(request, core::UM_MEDIA_OPEN, 0, 0, std::move(block));
        break;
    }
    case 2:
        if (!request.context.features.remoteMedia)
            return unavailable("remote media", request);
        request.context.features.remoteMedia->readAnswer(request.data, request.dataLength);
        break;
    case 5:
        if (!request.context.features.remoteMedia)
            return unavailable("remote media", request);
        request.context.features.remoteMedia->seekDone();
        break;
    default:
        break;
    }
}

void handleMediaRecord(const Request& request) {
    CommandContext& context = request.context;
    const int action = request.message[field::action].asInt();

    if (action == 4) {
        // Play the last recording, when it is still there.
        if (!context.settings)
            return unavailable("settings", request);
        const std::string path = context.settings->getString(core::setting::SET, kLastFile, "");
        if (!isReadableFile(path)) {
            LOGOUT("last recording not readable: %s", printable(path).c_str());
            return;
        }
        post(request, core::UM_PLAY_URL, 0, 0, core::makeTextBlock(path, core::kUrlBlockUnits));
        return;
    }
    if (action < 0 || action > 3)
        return;

    core::Recorder* recorder = context.features.recorder;
    // Without a recorder nothing was paused or resumed, so no state is reported.
    if (!recorder)
        return unavailable("recorder", request);
    switch (action) {
    case 0:
        recorder->stop();
        break;
    case 1:
        recorder->start(request.message[field::enableClientVoice].asBool());
        break;
    case 2:
        recorder->pause();
        broadcastState(context, protocol::MsgMediaRecordState, 2);
        break;
    case 3:
        recorder->resume();
        broadcastState(context, protocol::MsgMediaRecordState, 3);
        break;
    }
}

void handleVoiceData(const Request& request) {
    withFeature(request.context.features.recorder, "recorder", request,
                [&](auto& recorder) { recorder.voiceData(request.data, request.dataLength); });
}

}  // namespace ui::dispatch
