// CVideoStatic: the player's picture control. Decoding threads hand it BGRA
// pictures; it keeps the latest and draws it with SDL2 into its own native
// window on the UI thread, fitted and centred (stretched in mirroring mode),
// with the close icon in the top-right corner outside mirroring mode.
#pragma once

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Window;

namespace ui::player {

class CVideoStatic : public QWidget {
public:
    // `mirroring` tells whether the controlling phone mirrors its screen.
    CVideoStatic(QWidget* parent, std::function<bool()> mirroring);
    ~CVideoStatic() override;

    // Any thread: a picture of width x height, bytes blue, green, red, alpha,
    // rows of width x 4 bytes. Null pixels do nothing.
    void showFrame(int width, int height, const uint8_t* pixels);
    // UI thread: no picture until the next showFrame.
    void clearFrame();
    // UI thread: draws the current picture now.
    void redraw();

    int frameWidth();
    int frameHeight();
    // Whether SDL could make a renderer, and which.
    bool hasRenderer() const { return renderer_ != nullptr; }
    const char* rendererName() const { return rendererName_; }
    // Pictures drawn so far (tests, benchmarks).
    uint64_t drawnFrames() const { return drawn_; }
    // Any thread: how long a picture handed to showFrame takes until it has
    // been presented (the wait for the UI thread, the texture upload and
    // the drawing), the median of the last few pictures; 0 before the first.
    int64_t presentDelayUs() const { return presentDelayUs_; }
    // Called on the UI thread after a picture was presented, with the number
    // of the picture (1 for the first handed to showFrame) (benchmarks).
    void onPresented(std::function<void(uint64_t picture)> hook) { presented_ = std::move(hook); }

    QPaintEngine* paintEngine() const override { return nullptr; }

    // The close icon (48 x 48).
    static QImage closeIcon();

protected:
    void paintEvent(QPaintEvent*) override;
    void showEvent(QShowEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    bool ensureRenderer();

    std::function<bool()> mirroring_;
    std::mutex lock_;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    std::vector<uint8_t> pixels_;
    bool pixelsChanged_ = false;
    std::atomic<bool> drawPosted_{false};
    std::atomic<uint64_t> drawn_{0};
    uint64_t pictureNumber_ = 0;   // of the pixels held, under lock_
    uint64_t shownNumber_ = 0;     // UI thread
    int64_t handedUs_ = 0;         // when pictureNumber_ was handed over, under lock_
    std::vector<int64_t> recentDelays_;  // UI thread
    std::atomic<int64_t> presentDelayUs_{0};
    std::function<void(uint64_t)> presented_;

    // UI thread only.
    SDL_Window* sdlWindow_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* frameTexture_ = nullptr;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    SDL_Texture* iconTexture_ = nullptr;
    QImage icon_;
    const char* rendererName_ = "";
};

}  // namespace ui::player
