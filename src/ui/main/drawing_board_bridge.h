// Loads the drawing-board library from the program folder and calls it. When
// the library or one of its functions is missing, calls through that entry
// do nothing and report "closed".
#pragma once

#include "core/features.h"
#include "ui/main/drawing_board_api.h"

#include <string>

namespace ui {

class DrawingBoardBridge : public core::DrawingBoard {
public:
    DrawingBoardBridge() = default;
    ~DrawingBoardBridge() override;
    DrawingBoardBridge(const DrawingBoardBridge&) = delete;
    DrawingBoardBridge& operator=(const DrawingBoardBridge&) = delete;

    // Loads `libraryPath`, fills the table and calls setOwner. False when the
    // library cannot be loaded (logged).
    bool load(const std::string& libraryPath, HubOwner* owner, const std::string& docDir,
              int httpPort);
    void unload();
    bool loaded() const { return handle_ != nullptr; }

    void openPainter();
    void insertImage(const std::string& path);
    void closePainter();
    void clearPainter();
    void imageZoom(int zoomIn) override;
    void nextPage(int forward) override;
    // The language of the board's own texts ("zh-CN", "en-US", ...).
    void setLanguage(const std::string& language);

    // DrawingBoard (called from session threads as well).
    bool isOpened() override;
    void setRotateAngle(float degrees) override;
    void setInputText(const std::string& utf8) override;
    void setAnime(int effect) override;

    static constexpr const char* kLibraryName = "libSketchpad4.so";

private:
    // The library's exports: pointer type and exported name. One list fills
    // the table on load and clears it on unload.
#define LUMACRO_DRAWING_BOARD_EXPORTS(X)                                          \
    X(OpenPainterFn, openPainter) X(InsertImageFn, insertImage)                 \
    X(ClosePainterFn, closePainter) X(SetInputTextFn, setInputText)             \
    X(IsPainterOpenedFn, isPainterOpened) X(SetOwnerFn, setOwner)               \
    X(ImageZoomFn, imageZoom) X(SetLanguageFn, setLanguage)                     \
    X(ClearPainterFn, clearPainter) X(NextPageFn, nextPage)                     \
    X(SetRotateAngleFn, setRotateAngle) X(SetAnimeFn, setAnime)

    struct Exports {
#define LUMACRO_EXPORT_MEMBER(type, name) type name = nullptr;
        LUMACRO_DRAWING_BOARD_EXPORTS(LUMACRO_EXPORT_MEMBER)
#undef LUMACRO_EXPORT_MEMBER
    };

    void* handle_ = nullptr;
    Exports fn_;
};

}  // namespace ui
