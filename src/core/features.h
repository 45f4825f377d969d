// The features the dispatcher hands work to. Each is implemented by the
// subsystem that owns it; a null pointer in Features means the feature is not
// available yet, and the dispatcher logs that instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <json/value.h>
#include <string>
#include <vector>

namespace core {

// Pointer, keys, text and volume from the phone (the move diversion to the
// spotlight is done by the dispatcher before it calls mouseEvent).
class RemoteInput {
public:
    virtual ~RemoteInput() = default;
    virtual void mouseEvent(int action, bool absolute, float dx, float dy) = 0;
    virtual void motionEvent(int action, bool absolute, float dx, float dy) = 0;
    virtual void rotateEvent(float degree) = 0;
    virtual void keyEvent(int keyCode) = 0;
    virtual void keyEventEx(int keyCode, bool shift, bool ctrl, bool alt) = 0;
    virtual void inputText(const std::string& utf8) = 0;
    virtual void setVolume(int percent) = 0;
};

// The PC's screen stream to the phones over the sessions.
class LiveStream {
public:
    virtual ~LiveStream() = default;
    // MsgLive: non-zero adds a viewer (starting the stream for the first), 0 removes one.
    virtual void liveRequest(int socket, int action) = 0;
    // True while the sessions hold a subscription to the screen encoder.
    virtual bool hasSubscription() = 0;
    virtual void requestKeyFrame() = 0;
    // The controlling phone left: drop every viewer.
    virtual void dropViewers() = 0;
};

// The phone's camera or screen picture shown on the PC.
class LiveView {
public:
    virtual ~LiveView() = default;
    virtual void videoData(const uint8_t* data, size_t length) = 0;
};

// The phone's sound played on the PC.
class PhoneAudio {
public:
    virtual ~PhoneAudio() = default;
    virtual void start(int channels, int sampleRate, const uint8_t* config, size_t length) = 0;
    virtual void data(const uint8_t* data, size_t length) = 0;
    virtual void stop() = 0;
};

// The lesson recorder as the phones drive it.
class Recorder {
public:
    virtual ~Recorder() = default;
    virtual void start(bool enableClientVoice) = 0;
    virtual void stop() = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void voiceData(const uint8_t* data, size_t length) = 0;
    // The controlling phone left: end a running recording without a state message.
    virtual void endSilently() = 0;
};

// Files from the phones: MsgFile and MsgOpenURL with a file.
class FileReceiver {
public:
    virtual ~FileReceiver() = default;
    virtual void fileMessage(int socket, int action, const Json::Value& message,
                             const uint8_t* data, size_t length) = 0;
    // resType 0 or 1: `local` is true when the URL names this PC's own server.
    virtual void openUrl(const std::string& url, int anim, bool local) = 0;
    virtual void closeAll() = 0;
};

// A media file read from the phone through the session.
class RemoteMedia {
public:
    virtual ~RemoteMedia() = default;
    virtual void readAnswer(const uint8_t* data, size_t length) = 0;
    virtual void seekDone() = 0;
    // The session of `socket` ended: a file that phone was serving ends too.
    virtual void phoneLeft(int socket) {}
};

// The slide-show bridge.
class SlideShow {
public:
    virtual ~SlideShow() = default;
    virtual void attach() = 0;
    virtual void gotoSlide(int slideIndex) = 0;
};

// The drawing board as the dispatcher and input handlers ask it.
class DrawingBoard {
public:
    virtual ~DrawingBoard() = default;
    virtual bool isOpened() = 0;
    virtual void setRotateAngle(float degrees) = 0;
    virtual void setInputText(const std::string& utf8) = 0;
    virtual void setAnime(int effect) = 0;
    // Page keys: 1 next page, 0 previous page.
    virtual void nextPage(int forward) {}
    // Zoom keys: 1 zoom in, 0 zoom out.
    virtual void imageZoom(int zoomIn) {}
};

// The photo wall.
class PhotoWall {
public:
    virtual ~PhotoWall() = default;
    virtual void show(const std::vector<std::string>& urls, int index) = 0;
    // Page keys (any thread): one photo forward or back.
    virtual void step(bool forward) {}
    // Zoom keys (any thread).
    virtual void zoom(bool in) {}
    // Close key (any thread): hides the wall on the UI thread.
    virtual void close() {}
};

// The magnifier as the zoom keys ask it (any thread).
class Magnifier {
public:
    virtual ~Magnifier() = default;
    // Changes the magnification by `delta` (+0.1 / -0.1).
    virtual void zoom(float delta) = 0;
};

// Saves the primary screen as a JPEG file.
class ScreenshotSaver {
public:
    virtual ~ScreenshotSaver() = default;
    virtual bool saveJpeg(const std::string& path) = 0;
};

// Presentation cursor schemes 0..9.
class CursorSchemes {
public:
    virtual ~CursorSchemes() = default;
    virtual void apply(int scheme) = 0;
};

// Hand-overs to related programs.
class Integration {
public:
    virtual ~Integration() = default;
    virtual void openEbook() = 0;
    virtual void miracastDisplay() = 0;
    // Posts a message to another program's window (by the handle it stored).
    virtual void postToWindow(int64_t handle, uint32_t message, int64_t wParam, int64_t lParam) = 0;
};

struct Features {
    RemoteInput* input = nullptr;
    LiveStream* liveStream = nullptr;
    LiveView* liveView = nullptr;
    PhoneAudio* phoneAudio = nullptr;
    Recorder* recorder = nullptr;
    FileReceiver* files = nullptr;
    RemoteMedia* remoteMedia = nullptr;
    SlideShow* slides = nullptr;
    DrawingBoard* drawingBoard = nullptr;
    PhotoWall* photoWall = nullptr;
    ScreenshotSaver* screenshot = nullptr;
    CursorSchemes* cursors = nullptr;
    Integration* integration = nullptr;
    Magnifier* magnifier = nullptr;
};

}  // namespace core
