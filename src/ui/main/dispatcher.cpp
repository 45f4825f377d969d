#include "ui/main/dispatcher.h"

#include "core/phone_access.h"
#include "protocol/fields.h"
#include "protocol/message_names.h"
#include "support/logger.h"
#include "support/strings.h"
#include "ui/main/dispatch_handlers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <json/value.h>
#include <limits>
#include <string>

namespace ui {

using namespace dispatch;

namespace {

// What a message does to the PC: a watching phone (accepted with "admin"
// false) may only send what it needs to watch.
enum Effect : bool { kWatches = false, kActs = true };

struct Route {
    const char* className;
    Handler handler;
    Effect effect;
};

// Compared in this order; the first exact match runs.
const Route kRoutes[] = {
    {protocol::MsgMouseEvent, handleMouseEvent, kActs},
    {protocol::MsgMotionEvent, handleMotionEvent, kActs},
    {protocol::MsgRotateEvent, handleRotateEvent, kActs},
    {protocol::MsgKeyEvent, handleKeyEvent, kActs},
    {protocol::MsgKeyEventEx, handleKeyEventEx, kActs},
    {protocol::MsgLive, handleLive, kWatches},
    {protocol::MsgOpenURL, handleOpenUrl, kActs},
    {protocol::MsgMediaPlay, handleMediaPlay, kActs},
    {protocol::MsgLiveOpen, handleLiveOpen, kActs},
    {protocol::MsgLiveData, handleLiveData, kActs},
    {protocol::MsgLiveClose, handleLiveClose, kActs},
    {protocol::MsgAudioPlayStart, handleAudioPlayStart, kActs},
    {protocol::MsgAudioPlayData, handleAudioPlayData, kActs},
    {protocol::MsgAudioPlayStop, handleAudioPlayStop, kActs},
    {protocol::MsgMediaRecord, handleMediaRecord, kActs},
    {protocol::MsgVoiceData, handleVoiceData, kActs},
    {protocol::MsgFile, handleFile, kActs},
    {protocol::MsgBrush, handleBrush, kActs},
    {protocol::MsgSpot, handleSpot, kActs},
    {protocol::MsgDrawingBoard, handleDrawingBoard, kActs},
    {protocol::MsgEditText, handleEditText, kActs},
    {protocol::MsgMediaPlayer, handleMediaPlayer, kActs},
    {protocol::MsgGlass, handleGlass, kActs},
    {protocol::MsgPCCamera, handlePcCamera, kActs},
    {protocol::MsgVolume, handleVolume, kActs},
    {protocol::MsgPPT, handlePpt, kActs},
    {protocol::MsgScreenshot, handleScreenshot, kActs},
    {protocol::MsgInputText, handleInputText, kActs},
    {protocol::MsgPhotos, handlePhotos, kActs},
    {protocol::MsgPexloAutoLogin, handlePexloAutoLogin, kActs},
    {protocol::MsgOpenEbook, handleOpenEbook, kActs},
    {protocol::MsgScreen, handleScreen, kActs},
    {protocol::MsgMiracastDisplay, handleMiracastDisplay, kActs},
};

void clientReady(CommandContext& context, int socket, const sockaddr_in* peer) {
    // Closing an open settings window is left to the UI side, which owns it.
    if (context.settings && context.settings->getInt(core::setting::SET, kShowCursor, 0) != 0) {
        const int scheme = static_cast<int>(context.settings->getInt(core::setting::SET, kCursor, 9));
        if (context.features.cursors)
            context.features.cursors->apply(scheme);
        else
            LOGOUT("cursors not available: client ready");
    }

    const bool admin = context.server && context.server->isAdmin(socket);
    const int64_t address = peer ? static_cast<int64_t>(peer->sin_addr.s_addr) : 0;
    if (context.hub)
        context.hub->post(core::UM_CLIENT_STATE, admin ? 1 : 2, address);

    core::LiveStream* live = context.features.liveStream;
    if (live && live->hasSubscription())
        live->requestKeyFrame();
}

void clientGone(CommandContext& context, int socket) {
    const bool admin = context.server && context.server->isAdmin(socket);
    // A later session may get the same socket number, so the live source is
    // forgotten as soon as its phone leaves.
    int source = socket;
    const bool wasLiveSource = context.liveSourceSocket.compare_exchange_strong(source, -1);
    if (context.features.remoteMedia) context.features.remoteMedia->phoneLeft(socket);

    if (admin) {
        if (context.hub) {
            context.hub->post(core::UM_CLIENT_STATE, 0, 0);
            context.hub->post(core::UM_MEDIA_CLOSE, 0, 0);
            context.hub->post(core::UM_DRAWING_BOARD, 2, 0);
            context.hub->post(core::UM_SPOT, 0, 0);
            context.hub->post(core::UM_BRUSH, 0, 0);
        }
        releasePhoneResources(context);
        LOGOUT("client disconnected");
        if (context.features.cursors)
            context.features.cursors->apply(8);
    } else if (wasLiveSource) {
        if (context.hub)
            context.hub->post(core::UM_MEDIA_CLOSE, 0, 0);
    }
}

// The sender of the message being dispatched on this thread, for log lines.
thread_local std::string currentPeer;

std::string peerName(int socket) {
    return currentPeer.empty() ? "socket " + std::to_string(socket)
                               : currentPeer + " (socket " + std::to_string(socket) + ")";
}

// Messages of a watching phone dropped on this receive thread (one thread per
// session); the first few are logged.
thread_local int watcherDrops = 0;
constexpr int kWatcherDropLogLimit = 10;

// False when the message acts on the PC and comes from a watching phone while
// watching phones only watch.
bool allowedFrom(CommandContext& context, int socket, const std::string& className) {
    if (!actsOnPc(className) || !context.server || !context.settings) return true;
    if (context.server->isAdmin(socket)) return true;
    if (!core::AccessSettings(*context.settings).watchOnly()) return true;
    if (watcherDrops < kWatcherDropLogLimit) {
        ++watcherDrops;
        LOGOUT("%s: %s dropped: a watching phone does not control this PC%s", peerName(socket).c_str(),
               className.c_str(), watcherDrops == kWatcherDropLogLimit ? " (further drops are not logged)" : "");
    }
    return false;
}

}  // namespace

bool actsOnPc(const std::string& className) {
    for (const Route& route : kRoutes)
        if (className == route.className) return route.effect == kActs;
    return false;
}

int onSessionEvent(int socket, const sockaddr_in* peer, const std::string& className,
                   const Json::Value& message, const uint8_t* data, size_t dataLength, int event,
                   void* userData) {
    auto* context = static_cast<CommandContext*>(userData);
    if (!context)
        return 0;
    // During shutdown the features are being freed: the event is dropped.
    const DispatchGate::Pass pass = context->gate.enter();
    if (!pass) {
        if (context->gate.refused() == 1)
            LOGOUT("session events dropped from now on: shutting down");
        return 0;
    }
    // No exception may end the session's thread.
    try {
        switch (event) {
        case net::kMessage:
            currentPeer = peer ? support::ip2string(peer->sin_addr.s_addr) : std::string();
            if (allowedFrom(*context, socket, className))
                dispatchMessage(data, className, userData, message, dataLength, socket);
            currentPeer.clear();
            break;
        case net::kClientReady:
            clientReady(*context, socket, peer);
            break;
        case net::kClientGone:
            clientGone(*context, socket);
            break;
        default:
            break;
        }
    } catch (const std::exception& e) {
        LOGOUT("session event %d of socket %d failed: %s", event, socket, e.what());
    }
    return 0;
}

bool dispatchMessage(const uint8_t* data, const std::string& className, void* userData,
                     const Json::Value& message, size_t dataLength, int socket) {
    auto* context = static_cast<CommandContext*>(userData);
    if (!context)
        return true;

    const Route* route = nullptr;
    for (const Route& candidate : kRoutes) {
        if (className == candidate.className) {
            route = &candidate;
            break;
        }
    }
    if (!route) {
        LOGOUT("unknown msg: %s", printable(className).c_str());
        return true;
    }
    // Field reads on anything but an object would fail; the message is then
    // malformed as a whole.
    if (!message.isObject() && !message.isNull()) {
        LOGOUT("%s: %s dropped: message is not an object", peerName(socket).c_str(), className.c_str());
        return true;
    }

    const Request request{*context, className, message, dataLength ? data : nullptr,
                          data ? dataLength : 0, socket};
    try {
        route->handler(request);
    } catch (const Json::Exception& e) {
        LOGOUT("%s: %s dropped: %s", peerName(socket).c_str(), className.c_str(), e.what());
    } catch (const FieldError& e) {
        LOGOUT("%s: %s dropped: %s", peerName(socket).c_str(), className.c_str(), e.what());
    } catch (const std::exception& e) {
        LOGOUT("%s: %s failed: %s", peerName(socket).c_str(), className.c_str(), e.what());
    }
    return true;
}

void releasePhoneResources(CommandContext& context) {
    core::Features& f = context.features;
    if (f.liveStream)
        f.liveStream->dropViewers();
    if (f.files)
        f.files->closeAll();
    if (f.recorder)
        f.recorder->endSilently();
    if (f.phoneAudio)
        f.phoneAudio->stop();
}

namespace dispatch {

void post(const Request& request, uint32_t message, int64_t wParam, int64_t lParam,
          std::unique_ptr<core::HeapBlock> block) {
    if (!request.context.hub) {
        LOGOUT("hub not available: %s", request.className.c_str());
        return;
    }
    request.context.hub->post(message, wParam, lParam, std::move(block));
}

void unavailable(const char* feature, const Request& request) {
    LOGOUT("%s not available: %s", feature, request.className.c_str());
}

void broadcastState(CommandContext& context, const char* className, int state) {
    if (!context.server)
        return;
    Json::Value message(Json::objectValue);
    message[protocol::field::state] = state;
    context.server->send(className, message, nullptr, 0, -1);
}

const Json::Value& arrayField(const Json::Value& message, const char* name) {
    const Json::Value& value = message[name];
    if (!value.isNull() && !value.isArray())
        throw FieldError(std::string("\"") + name + "\" is not an array");
    return value;
}

std::string printable(std::string_view text) {
    return support::printableText(text, 200);
}

int64_t packSigned16(int high, int low) {
    const auto half = [](int v) {
        return static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, -32768, 32767)));
    };
    return static_cast<int64_t>((static_cast<uint32_t>(half(high)) << 16) | half(low));
}

}  // namespace dispatch

}  // namespace ui
