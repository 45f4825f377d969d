#include "ui/main/drawing_board_bridge.h"

#include "support/logger.h"

#include <dlfcn.h>

namespace ui {

namespace {

template <typename Fn>
Fn lookup(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

DrawingBoardBridge::~DrawingBoardBridge() { unload(); }

bool DrawingBoardBridge::load(const std::string& libraryPath, HubOwner* owner,
                              const std::string& docDir, int httpPort) {
    unload();
    handle_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        LOGOUT("drawing board library not loaded: %s", dlerror());
        return false;
    }
    openPainter_ = lookup<OpenPainterFn>(handle_, "openPainter");
    insertImage_ = lookup<InsertImageFn>(handle_, "insertImage");
    closePainter_ = lookup<ClosePainterFn>(handle_, "closePainter");
    setInputText_ = lookup<SetInputTextFn>(handle_, "setInputText");
    isPainterOpened_ = lookup<IsPainterOpenedFn>(handle_, "isPainterOpened");
    setOwner_ = lookup<SetOwnerFn>(handle_, "setOwner");
    imageZoom_ = lookup<ImageZoomFn>(handle_, "imageZoom");
    setLanguage_ = lookup<SetLanguageFn>(handle_, "setLanguage");
    clearPainter_ = lookup<ClearPainterFn>(handle_, "clearPainter");
    nextPage_ = lookup<NextPageFn>(handle_, "nextPage");
    setRotateAngle_ = lookup<SetRotateAngleFn>(handle_, "setRotateAngle");
    setAnime_ = lookup<SetAnimeFn>(handle_, "setAnime");
    if (setOwner_) setOwner_(owner, 0, docDir.c_str(), httpPort);
    LOGOUT("drawing board library loaded: %s", libraryPath.c_str());
    return true;
}

void DrawingBoardBridge::unload() {
    if (!handle_) return;
    openPainter_ = nullptr;
    insertImage_ = nullptr;
    closePainter_ = nullptr;
    setInputText_ = nullptr;
    isPainterOpened_ = nullptr;
    setOwner_ = nullptr;
    imageZoom_ = nullptr;
    setLanguage_ = nullptr;
    clearPainter_ = nullptr;
    nextPage_ = nullptr;
    setRotateAngle_ = nullptr;
    setAnime_ = nullptr;
    dlclose(handle_);
    handle_ = nullptr;
}

void DrawingBoardBridge::openPainter() {
    if (openPainter_) openPainter_();
}
void DrawingBoardBridge::insertImage(const std::string& path) {
    if (insertImage_) insertImage_(path.c_str());
}
void DrawingBoardBridge::closePainter() {
    if (closePainter_) closePainter_();
}
void DrawingBoardBridge::clearPainter() {
    if (clearPainter_) clearPainter_();
}
void DrawingBoardBridge::imageZoom(int zoomIn) {
    if (imageZoom_) imageZoom_(zoomIn ? 1 : 0);
}
void DrawingBoardBridge::nextPage(int forward) {
    if (nextPage_) nextPage_(forward ? 1 : 0);
}
bool DrawingBoardBridge::isOpened() { return isPainterOpened_ && isPainterOpened_() != 0; }
void DrawingBoardBridge::setRotateAngle(float degrees) {
    if (setRotateAngle_) setRotateAngle_(degrees);
}
void DrawingBoardBridge::setInputText(const std::string& utf8) {
    if (setInputText_) setInputText_(utf8.c_str());
}
void DrawingBoardBridge::setAnime(int effect) {
    if (setAnime_) setAnime_(effect);
}

}  // namespace ui
