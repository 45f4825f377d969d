#include "input/remote_input.h"

#include "core/round_delta.h"
#include "input/phone_keys.h"
#include "input/virtual_keys.h"
#include "support/logger.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace input {

namespace flag = platform::mouse_flag;
using platform::InputRecord;

namespace {

// x * 65535 / size with truncating division, kept within int32.
int32_t normalise(int value, int size) {
    const int64_t n = int64_t(value) * 65535 / size;
    return int32_t(std::clamp<int64_t>(n, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

}  // namespace

RemoteInputHandler::RemoteInputHandler(platform::InputInjector& injector, core::MainHub* hub,
                                       const core::Features& tools, core::OverlayFlags& overlay,
                                       core::ForwardedPointerSlot& forwarded, ClipboardWriter* clipboard,
                                       platform::VolumeControl* volume)
    : injector_(injector),
      hub_(hub),
      tools_(tools),
      overlay_(overlay),
      forwarded_(forwarded),
      clipboard_(clipboard),
      volume_(volume) {}

void RemoteInputHandler::sendPointer(uint32_t flags, bool absolute, int x, int y) {
    if (!absolute) {
        const bool move = flags & flag::Move;
        const InputRecord r = InputRecord::mouse(flags, move ? x : 0, move ? y : 0);
        injector_.sendInput(&r, 1);
        return;
    }
    const platform::ScreenSize size = injector_.screenSize();
    if (size.width <= 0 || size.height <= 0) {
        LOGOUT("input: screen size unknown, absolute pointer event dropped");
        return;
    }
    const int32_t nx = normalise(x, size.width);
    const int32_t ny = normalise(y, size.height);
    // Every absolute button event is preceded by a move to its position.
    InputRecord records[2] = {InputRecord::mouse(flag::Move | flag::Absolute, nx, ny),
                              InputRecord::mouse(flags | flag::Absolute, nx, ny)};
    injector_.sendInput(records, (flags & flag::Move) ? 1 : 2);
}

void RemoteInputHandler::pressKey(uint16_t vk) {
    const InputRecord down = InputRecord::key(vk, false);
    const InputRecord up = InputRecord::key(vk, true);
    injector_.sendInput(&down, 1);
    injector_.sendInput(&up, 1);
}

void RemoteInputHandler::pressChord(uint16_t modifier, uint16_t vk) {
    pressWithModifiers({modifier}, vk);
}

// Modifiers down in the given order, the key down, the modifiers up in reverse,
// then the key up: one uninterrupted group.
void RemoteInputHandler::pressWithModifiers(std::initializer_list<uint16_t> modifiers, uint16_t vk) {
    std::vector<InputRecord> records;
    for (uint16_t m : modifiers) records.push_back(InputRecord::key(m, false));
    records.push_back(InputRecord::key(vk, false));
    for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it)
        records.push_back(InputRecord::key(*it, true));
    records.push_back(InputRecord::key(vk, true));
    injector_.sendInput(records.data(), records.size());
}

void RemoteInputHandler::leftClick(bool absolute, int x, int y) {
    sendPointer(flag::LeftDown, absolute, x, y);
    sendPointer(flag::LeftUp, absolute, x, y);
}

void RemoteInputHandler::forward(bool absolute, int dx, int dy, bool isUp, bool isDown) {
    if (!overlay_.annotationForwarding.load()) return;
    if (!hub_) return;
    core::ForwardedPointer record{dx, dy, isUp, isDown};
    if (!absolute) {
        // Read after the injection: the backend has already applied the
        // relative motion, so this is where the pointer now is.
        int x = 0, y = 0;
        if (!injector_.cursorPosition(x, y)) return;
        record.x = x;
        record.y = y;
    }
    std::lock_guard<std::mutex> lock(forwarded_.mutex);
    forwarded_.record = record;
    hub_->send(core::UM_BRUSH, 4, 0);
}

void RemoteInputHandler::mouseEvent(int action, bool absolute, float fdx, float fdy) {
    const int dx = core::roundDelta(fdx);
    const int dy = core::roundDelta(fdy);
    switch (action) {
    case 1:
        leftClick(absolute, dx, dy);
        break;
    case 2:
        leftClick(absolute, dx, dy);
        leftClick(absolute, dx, dy);
        break;
    case 3:
        sendPointer(flag::RightDown, absolute, dx, dy);
        sendPointer(flag::RightUp, absolute, dx, dy);
        break;
    case 4:
        // (The dispatcher has already steered moves to a shown spotlight.)
        if (dx == 0 && dy == 0) return;
        sendPointer(flag::Move, absolute, dx, dy);
        forward(absolute, dx, dy, false, false);
        break;
    case 5: {
        // One notch at most per message.
        const InputRecord r = InputRecord::mouse(flag::Wheel, 0, 0,
                                                 std::clamp(dy, -platform::kWheelDelta, platform::kWheelDelta));
        injector_.sendInput(&r, 1);
        break;
    }
    default:
        break;
    }
}

void RemoteInputHandler::motionEvent(int action, bool absolute, float fdx, float fdy) {
    const int dx = core::roundDelta(fdx);
    const int dy = core::roundDelta(fdy);
    core::OverlayFlags& flags = overlay_;
    switch (action) {
    case 0:
        flags.remoteButtonHeld = true;
        sendPointer(flag::LeftDown, absolute, dx, dy);
        forward(absolute, dx, dy, false, true);
        break;
    case 1:
        sendPointer(flag::LeftUp, absolute, dx, dy);
        forward(absolute, dx, dy, true, false);
        flags.remoteButtonHeld = false;
        break;
    case 2:
        sendPointer(flag::Move, absolute, dx, dy);
        forward(absolute, dx, dy, false, false);
        break;
    default:
        break;
    }
}

void RemoteInputHandler::rotateEvent(float degree) {
    if (boardOpen()) tools_.drawingBoard->setRotateAngle(-degree);
}

bool RemoteInputHandler::boardOpen() const {
    return tools_.drawingBoard && tools_.drawingBoard->isOpened();
}

core::PhotoWall* RemoteInputHandler::openPhotoWall() const {
    return overlay_.photoWallOpen.load() ? tools_.photoWall : nullptr;
}

void RemoteInputHandler::pageKey(bool forward, uint16_t vk) {
    if (boardOpen())
        tools_.drawingBoard->nextPage(forward ? 1 : 0);
    else if (core::PhotoWall* wall = openPhotoWall())
        wall->step(forward);
    pressKey(vk);
}

void RemoteInputHandler::closeKey() {
    if (boardOpen() && hub_)
        hub_->post(core::UM_PAINTER, 0, 0);
    else if (core::PhotoWall* wall = openPhotoWall())
        wall->close();
    else
        pressChord(vk::Menu, vk::F4);
}

void RemoteInputHandler::zoomKey(bool in, uint16_t fallbackVk) {
    const core::OverlayFlags& flags = overlay_;
    if (flags.spotlightActive.load() && hub_)
        hub_->post(core::UM_SPOT, 4, in ? 1 : 0);
    else if (flags.magnifierActive.load() && tools_.magnifier)
        tools_.magnifier->zoom(in ? 0.1f : -0.1f);
    else if (boardOpen())
        tools_.drawingBoard->imageZoom(in ? 1 : 0);
    else if (core::PhotoWall* wall = openPhotoWall())
        wall->zoom(in);
    else
        pressChord(vk::Control, fallbackVk);
}

void RemoteInputHandler::keyEvent(int keyCode) {
    const PhoneKey key = phoneKey(keyCode);
    switch (key.kind) {
    case PhoneKey::Kind::Press: pressKey(key.vk); break;
    case PhoneKey::Kind::Chord: pressChord(vk::Control, key.vk); break;
    case PhoneKey::Kind::Page: pageKey(key.forward, key.vk); break;
    case PhoneKey::Kind::Close: closeKey(); break;
    case PhoneKey::Kind::Zoom: zoomKey(key.forward, key.vk); break;
    case PhoneKey::Kind::None: break;
    }
}

void RemoteInputHandler::keyEventEx(int keyCode, bool shift, bool ctrl, bool alt) {
    const uint16_t key = uint16_t(keyCode & 0xFFFF);
    if (!shift && !ctrl && !alt) return pressKey(key);
    if (alt && key == vk::F4) return closeKey();
    // Several modifiers: all of them are held around the key, Ctrl, Shift, Alt.
    uint16_t mods[3];
    size_t n = 0;
    if (ctrl) mods[n++] = vk::Control;
    if (shift) mods[n++] = vk::Shift;
    if (alt) mods[n++] = vk::Menu;
    switch (n) {
    case 1: pressWithModifiers({mods[0]}, key); break;
    case 2: pressWithModifiers({mods[0], mods[1]}, key); break;
    default: pressWithModifiers({mods[0], mods[1], mods[2]}, key); break;
    }
}

void RemoteInputHandler::inputText(const std::string& utf8) {
    if (!clipboard_) {
        LOGOUT("input: no clipboard, text dropped");
        return;
    }
    // The text goes whole (UTF-8), nothing is lost to a code page.
    if (!clipboard_->setText(utf8)) return;
    const InputRecord paste[] = {InputRecord::key(vk::LControl, false), InputRecord::key(vk::KeyV, false),
                                 InputRecord::key(vk::KeyV, true), InputRecord::key(vk::LControl, true)};
    for (const InputRecord& r : paste) injector_.sendInput(&r, 1);
}

void RemoteInputHandler::setVolume(int percent) {
    if (volume_) volume_->setMasterVolume(percent);
}

}  // namespace input
