// The media player window: frameless, without a task-bar entry, over the
// primary screen while video plays. It owns the playback engine and the
// picture control, carries out the hub's media messages, reports the
// position every 500 ms, and sends key and pointer input on it to the phones
// as "mouse-event" messages.
#pragma once

#include "media/media_player.h"
#include "ui/main/hub_windows.h"

#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

namespace ui::player {

class CVideoStatic;

struct PlayerWindowLink {
    std::function<void(const std::string& className, const Json::Value& message)> broadcast;
    std::function<std::string()> controllerTag;
    // The classroom server's window (FSHWND in Interop), 0 when none.
    std::function<int64_t()> classroomWindow;
    // Posts a message to another program's window.
    std::function<void(int64_t window, uint32_t message)> postToWindow;
    // Drawing with the annotation overlay over the picture: whether the
    // overlay takes pointer input now, and a point of a stroke for it
    // (screen pixels; down starts a stroke, up ends it).
    std::function<bool()> annotationForwarding;
    std::function<void(int x, int y, bool down, bool up)> annotate;
    bool useSoundDevice = true;
};

// Windows virtual-key code of a Qt key, 0 when it has none.
uint32_t virtualKeyOf(int qtKey, quint32 nativeVirtualKey);

class MediaPlayerWnd : public QWidget, public ui::MediaPlayerWindow, public media::VideoOutput {
public:
    static constexpr uint32_t kClassroomPlayMessage = 0x555;

    explicit MediaPlayerWnd(PlayerWindowLink link);
    ~MediaPlayerWnd() override;

    media::MediaPlayer& engine() { return *engine_; }
    CVideoStatic& picture() { return *picture_; }

    // ui::HubWindow
    bool isVisible() override { return QWidget::isVisible(); }
    void showWindow() override {}
    void hideWindow() override;
    void handle(uint32_t message, int64_t wParam, int64_t lParam,
                std::unique_ptr<core::HeapBlock> block) override;
    // ui::MediaPlayerWindow
    bool openLiveView(int width, int height, int codecId, int pixelFormat) override;
    bool isPlaying() override { return engine_->isPlaying(); }
    bool isOpening() override { return engine_->isOpening(); }
    int64_t position() override { return engine_->currentPosition(); }
    int64_t duration() override { return engine_->duration(); }
    void closeMedia() override { engine_->stop(); }

    // media::VideoOutput
    void showFrame(int width, int height, const uint8_t* pixels) override;
    void clearFrame() override;
    void showFullScreen() override;
    media::Size displaySize() override;
    int64_t presentDelayUs() override;
    void runOnUi(std::function<void()> task) override;

protected:
    void keyPressEvent(QKeyEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;

private:
    bool forwardsInput();
    void sendPointer(int event, QPoint client, int64_t delta = 0);
    void sendKey(QKeyEvent* event, int action);
    void closeSquareReleased();
    bool forwardsAnnotation() { return link_.annotationForwarding && link_.annotate && link_.annotationForwarding(); }

    PlayerWindowLink link_;
    CVideoStatic* picture_ = nullptr;  // child widget
    std::unique_ptr<media::MediaPlayer> engine_;
    QTimer positionTimer_;
    std::atomic<int> displayWidth_{1920};
    std::atomic<int> displayHeight_{1080};
    QPoint lastMouse_{0, 0};
    bool annotating_ = false;
};

}  // namespace ui::player
