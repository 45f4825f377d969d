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

    // DrawingBoard (called from session threads as well).
    bool isOpened() override;
    void setRotateAngle(float degrees) override;
    void setInputText(const std::string& utf8) override;
    void setAnime(int effect) override;

    static constexpr const char* kLibraryName = "libSketchpad4.so";

private:
    void* handle_ = nullptr;
    OpenPainterFn openPainter_ = nullptr;
    InsertImageFn insertImage_ = nullptr;
    ClosePainterFn closePainter_ = nullptr;
    SetInputTextFn setInputText_ = nullptr;
    IsPainterOpenedFn isPainterOpened_ = nullptr;
    SetOwnerFn setOwner_ = nullptr;
    ImageZoomFn imageZoom_ = nullptr;
    SetLanguageFn setLanguage_ = nullptr;
    ClearPainterFn clearPainter_ = nullptr;
    NextPageFn nextPage_ = nullptr;
    SetRotateAngleFn setRotateAngle_ = nullptr;
    SetAnimeFn setAnime_ = nullptr;
};

}  // namespace ui
