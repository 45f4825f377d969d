// Internal to the dispatcher: the request every handler receives, the helpers
// they share and the handler of each routed class.
#pragma once

#include "core/heap_blocks.h"
#include "ui/main/command_context.h"

#include <cstddef>
#include <cstdint>
#include <json/value.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ui::dispatch {

struct Request {
    CommandContext& context;
    const std::string& className;
    const Json::Value& message;  // always an object (or null) here
    const uint8_t* data;         // the tail, may be null
    size_t dataLength;
    int socket;
};

using Handler = void (*)(const Request&);

// A field present with a shape the handler cannot use (e.g. "pointList" that
// is not an array). Handled like the JSON library's conversion errors: the
// message is dropped.
struct FieldError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Setting names read by the handlers.
inline constexpr const char kShowCursor[] = "SHOW_CURSOR";
inline constexpr const char kCursor[] = "CURSOR";
inline constexpr const char kLastFile[] = "lastfile";
inline constexpr const char kClassroomWindow[] = "FSHWND";
inline constexpr const char kClassroomKeyPath[] = "Quorvel\\FarolineServer\\SET";
inline constexpr const char kPexloStartup[] = "pexloStartup";

// Posts to the hub; logs when the context has no hub.
void post(const Request& request, uint32_t message, int64_t wParam, int64_t lParam,
          std::unique_ptr<core::HeapBlock> block = nullptr);
// Logs "<feature> not available: <class>".
void unavailable(const char* feature, const Request& request);
// Calls `call` with the feature, or logs it as unavailable when it is missing.
template <typename Feature, typename Call>
void withFeature(Feature* feature, const char* name, const Request& request, Call&& call) {
    if (!feature)
        return unavailable(name, request);
    call(*feature);
}
// Broadcasts a message with one integer "state" to every session.
void broadcastState(CommandContext& context, const char* className, int state);
// The array member `name`: null when absent, FieldError when not an array.
const Json::Value& arrayField(const Json::Value& message, const char* name);
// Text safe for a log line: control bytes escaped, at most 200 bytes.
std::string printable(std::string_view text);
// dx, dy packed as two signed 16-bit halves (dx high), each clamped to its range.
int64_t packSigned16(int high, int low);

// Input (inline).
void handleMouseEvent(const Request& request);
void handleMotionEvent(const Request& request);
void handleRotateEvent(const Request& request);
void handleKeyEvent(const Request& request);
void handleKeyEventEx(const Request& request);
void handleInputText(const Request& request);
void handleVolume(const Request& request);

// Live pictures, phone audio, media player and recorder.
void handleLive(const Request& request);
void handleLiveOpen(const Request& request);
void handleLiveData(const Request& request);
void handleLiveClose(const Request& request);
void handleAudioPlayStart(const Request& request);
void handleAudioPlayData(const Request& request);
void handleAudioPlayStop(const Request& request);
void handleMediaPlay(const Request& request);
void handleMediaPlayer(const Request& request);
void handleMediaRecord(const Request& request);
void handleVoiceData(const Request& request);

// Classroom tools.
void handleBrush(const Request& request);
void handleSpot(const Request& request);
void handleDrawingBoard(const Request& request);
void handleEditText(const Request& request);
void handleGlass(const Request& request);
void handlePcCamera(const Request& request);
void handlePpt(const Request& request);
void handleScreenshot(const Request& request);
void handlePhotos(const Request& request);
void handleScreen(const Request& request);

// Files, URLs and hand-overs to other programs.
void handleFile(const Request& request);
void handleOpenUrl(const Request& request);
void handlePexloAutoLogin(const Request& request);
void handleOpenEbook(const Request& request);
void handleMiracastDisplay(const Request& request);

// True when `url` holds `dotted` as a whole address (not as the start of a
// longer one such as 10.0.0.10 for 10.0.0.1).
bool urlNamesAddress(std::string_view url, std::string_view dotted);

}  // namespace ui::dispatch
