// The root window as the program's screen capture sees it, as a QImage, and a
// wait that keeps the Qt event loop turning; for tests of windows on Xvfb.
#pragma once

#include "platform/screen_grabber.h"

#include <QApplication>
#include <QImage>
#include <QThread>

#include <chrono>
#include <functional>

namespace testing_support {

// A null image when the screen cannot be grabbed.
inline QImage grabScreen() {
    auto grabber = platform::makeX11ScreenGrabber();
    if (!grabber->open()) return {};
    QImage image(grabber->width(), grabber->height(), QImage::Format_RGB32);
    const bool ok = grabber->grab(image.bits(), static_cast<int>(image.bytesPerLine()), false);
    grabber->close();
    return ok ? image : QImage();
}

// Runs the event loop until `done` holds or `ms` passed; asks `done` once more at the end.
inline bool waitWithEvents(const std::function<bool()>& done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        if (done()) return true;
        QThread::msleep(10);
    }
    return done();
}

}  // namespace testing_support
