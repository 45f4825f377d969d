// The C interface of the drawing-board library (libSketchpad4.so in the
// program folder). Texts are UTF-8. The owner handle is a HubOwner: the
// library posts its notifications (UM_DRAWING_BOARD with its state,
// UM_EDIT_TEXT_END) through owner->post.
#pragma once

#include <cstdint>

extern "C" {

struct HubOwner {
    void* hub;
    void (*post)(void* hub, uint32_t message, int64_t wParam, int64_t lParam);
};

typedef void (*OpenPainterFn)();
typedef void (*InsertImageFn)(const char* path);
typedef void (*ClosePainterFn)();
typedef void (*SetInputTextFn)(const char* text);
typedef int (*IsPainterOpenedFn)();
typedef void (*SetOwnerFn)(HubOwner* owner, int reserved, const char* docDir, int httpPort);
typedef void (*ImageZoomFn)(int zoomIn);
typedef void (*SetLanguageFn)(const char* language);
typedef void (*ClearPainterFn)();
typedef void (*NextPageFn)(int forward);
typedef void (*SetRotateAngleFn)(float degrees);
typedef void (*SetAnimeFn)(int effect);
}
