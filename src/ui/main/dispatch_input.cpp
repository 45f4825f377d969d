// Pointer, keys, text and volume: run inline on the receive thread.
#include "core/round_delta.h"
#include "protocol/fields.h"
#include "ui/main/dispatch_handlers.h"
#include "ui/main/dispatcher.h"

namespace ui::dispatch {

namespace field = protocol::field;

namespace {

struct Pointer {
    int action;
    bool absolute;
    float dx;
    float dy;
};

Pointer readPointer(const Json::Value& message) {
    return Pointer{message[field::action].asInt(), message[field::absolute].asBool(),
                   message[field::dx].asFloat(), message[field::dy].asFloat()};
}

constexpr int kMouseMove = 4;

template <typename Call>
void withInput(const Request& request, Call&& call) {
    withFeature(request.context.features.input, "input", request, call);
}

}  // namespace

void handleMouseEvent(const Request& request) {
    const Pointer p = readPointer(request.message);
    if (p.action == kMouseMove) {
        const int dx = core::roundDelta(p.dx);
        const int dy = core::roundDelta(p.dy);
        if (dx == 0 && dy == 0)
            return;
        // While the spotlight is shown a move steers it instead of the cursor.
        const core::OverlayFlags* overlay = request.context.overlay;
        if (overlay && overlay->spotlightActive.load()) {
            post(request, core::UM_SPOT, 5, packSigned16(dx, dy));
            return;
        }
    }
    withInput(request, [&](auto& input) { input.mouseEvent(p.action, p.absolute, p.dx, p.dy); });
}

void handleMotionEvent(const Request& request) {
    const Pointer p = readPointer(request.message);
    withInput(request, [&](auto& input) { input.motionEvent(p.action, p.absolute, p.dx, p.dy); });
}

void handleRotateEvent(const Request& request) {
    const float degree = request.message[field::degree].asFloat();
    withInput(request, [&](auto& input) { input.rotateEvent(degree); });
}

void handleKeyEvent(const Request& request) {
    const int keyCode = request.message[field::keyCode].asInt();
    withInput(request, [&](auto& input) { input.keyEvent(keyCode); });
}

void handleKeyEventEx(const Request& request) {
    const Json::Value& m = request.message;
    const int keyCode = m[field::keyCode].asInt();
    const bool shift = m[field::shift].asBool();
    const bool ctrl = m[field::ctrl].asBool();
    const bool alt = m[field::alt].asBool();
    withInput(request, [&](auto& input) { input.keyEventEx(keyCode, shift, ctrl, alt); });
}

void handleInputText(const Request& request) {
    const std::string text = request.message[field::text].asString();
    withInput(request, [&](auto& input) { input.inputText(text); });
}

void handleVolume(const Request& request) {
    const int volume = request.message[field::volume].asInt();
    withInput(request, [&](auto& input) { input.setVolume(volume); });
}

}  // namespace ui::dispatch
