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
#define LUMACRO_EXPORT_LOOKUP(type, name) fn_.name = lookup<type>(handle_, #name);
    LUMACRO_DRAWING_BOARD_EXPORTS(LUMACRO_EXPORT_LOOKUP)
#undef LUMACRO_EXPORT_LOOKUP
    if (fn_.setOwner) fn_.setOwner(owner, 0, docDir.c_str(), httpPort);
    LOGOUT("drawing board library loaded: %s", libraryPath.c_str());
    return true;
}

void DrawingBoardBridge::unload() {
    if (!handle_) return;
    fn_ = Exports{};
    dlclose(handle_);
    handle_ = nullptr;
}

void DrawingBoardBridge::openPainter() {
    if (fn_.openPainter) fn_.openPainter();
}
void DrawingBoardBridge::insertImage(const std::string& path) {
    if (fn_.insertImage) fn_.insertImage(path.c_str());
}
void DrawingBoardBridge::closePainter() {
    if (fn_.closePainter) fn_.closePainter();
}
void DrawingBoardBridge::clearPainter() {
    if (fn_.clearPainter) fn_.clearPainter();
}
void DrawingBoardBridge::imageZoom(int zoomIn) {
    if (fn_.imageZoom) fn_.imageZoom(zoomIn ? 1 : 0);
}
void DrawingBoardBridge::nextPage(int forward) {
    if (fn_.nextPage) fn_.nextPage(forward ? 1 : 0);
}
void DrawingBoardBridge::setLanguage(const std::string& language) {
    if (fn_.setLanguage) fn_.setLanguage(language.c_str());
}
bool DrawingBoardBridge::isOpened() { return fn_.isPainterOpened && fn_.isPainterOpened() != 0; }
void DrawingBoardBridge::setRotateAngle(float degrees) {
    if (fn_.setRotateAngle) fn_.setRotateAngle(degrees);
}
void DrawingBoardBridge::setInputText(const std::string& utf8) {
    if (fn_.setInputText) fn_.setInputText(utf8.c_str());
}
void DrawingBoardBridge::setAnime(int effect) {
    if (fn_.setAnime) fn_.setAnime(effect);
}

}  // namespace ui
