// The phone as touch pad, pointer, keyboard and remote control: pointer and
// key messages become input records for the injector, text becomes a paste,
// the volume level goes to the sound output, and while an overlay tool is on
// screen some keys and pointer events go to that tool instead or as well.
// Runs on the receive thread of the session that sent the message.
#pragma once

#include "core/features.h"
#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "core/main_hub.h"
#include "input/clipboard.h"
#include "platform/input_injector.h"
#include "platform/volume_control.h"

#include <cstdint>
#include <initializer_list>

namespace input {

class RemoteInputHandler : public core::RemoteInput {
public:
    // `tools` is read at each message (the tools may appear after start-up);
    // `overlay` tells which overlay tool takes the pointer and keys, and
    // `forwarded` carries the pointer to the annotation overlay. Hub,
    // clipboard and volume may be null (that part is then skipped with a log
    // line). Everything given must outlive the handler.
    RemoteInputHandler(platform::InputInjector& injector, core::MainHub* hub, const core::Features& tools,
                       core::OverlayFlags& overlay, core::ForwardedPointerSlot& forwarded,
                       ClipboardWriter* clipboard, platform::VolumeControl* volume);

    void mouseEvent(int action, bool absolute, float dx, float dy) override;
    void motionEvent(int action, bool absolute, float dx, float dy) override;
    void rotateEvent(float degree) override;
    void keyEvent(int keyCode) override;
    void keyEventEx(int keyCode, bool shift, bool ctrl, bool alt) override;
    void inputText(const std::string& utf8) override;
    void setVolume(int percent) override;

    // The injection steps the handlers are built from.
    void sendPointer(uint32_t flags, bool absolute, int x, int y);
    void pressKey(uint16_t vk);
    void pressChord(uint16_t modifier, uint16_t vk);

private:
    void leftClick(bool absolute, int x, int y);
    // Hands the pointer to the annotation overlay when it asks for it.
    void forward(bool absolute, int dx, int dy, bool isUp, bool isDown);
    void closeKey();
    void zoomKey(bool in, uint16_t fallbackVk);
    void pageKey(bool forward, uint16_t vk);
    void pressWithModifiers(std::initializer_list<uint16_t> modifiers, uint16_t vk);
    bool boardOpen() const;
    core::PhotoWall* openPhotoWall() const;

    platform::InputInjector& injector_;
    core::MainHub* hub_;
    const core::Features& tools_;
    core::OverlayFlags& overlay_;
    core::ForwardedPointerSlot& forwarded_;
    ClipboardWriter* clipboard_;
    platform::VolumeControl* volume_;
};

}  // namespace input
