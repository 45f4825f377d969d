// Turns every event of the session server into work: inline on the receive
// thread that delivered it, or posted to the main hub.
#pragma once

#include "net/session_types.h"
#include "ui/main/command_context.h"

#include <cstddef>
#include <cstdint>
#include <json/value.h>
#include <string>

namespace ui {

// The session server's callback; userData is the CommandContext. Returns 0.
int onSessionEvent(int socket, const sockaddr_in* peer, const std::string& className,
                   const Json::Value& message, const uint8_t* data, size_t dataLength, int event,
                   void* userData);

// Routes one message by its class name. A message with a field of the wrong
// JSON type is dropped with a log line; returns true.
bool dispatchMessage(const uint8_t* data, const std::string& className, void* userData,
                     const Json::Value& message, size_t dataLength, int socket);

// True for the classes that act on the PC (pointer, keys, text, volume, URLs
// and files, media, overlays, drawing board, slides, photos, camera,
// screenshots, recording, related programs). A watching phone's messages of
// these classes are dropped while the setting WATCH_ONLY is on; the live
// stream request (MsgLive) and unknown classes are not among them.
bool actsOnPc(const std::string& className);

// Releases what the controlling phone held (viewers, transfers, recording,
// phone audio); also used at shutdown.
void releasePhoneResources(CommandContext& context);

}  // namespace ui
