#include "app/program/screenshot_saver.h"

#include "app/program/desktop_backends.h"
#include "platform/screen_grabber.h"
#include "support/files.h"
#include "support/logger.h"

#include <QImage>

namespace app {

bool JpegScreenshotSaver::saveJpeg(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto grabber = makeDesktopScreenGrabber();
    if (!grabber || !grabber->open()) {
        LOGOUT("screenshot: no display to capture");
        return false;
    }
    const int width = grabber->width();
    const int height = grabber->height();
    // BGRA in memory is Qt's RGB32 on a little-endian machine; the fourth
    // byte is ignored.
    QImage image(width, height, QImage::Format_RGB32);
    const bool captured = grabber->grab(image.bits(), static_cast<int>(image.bytesPerLine()), false);
    grabber->close();
    if (!captured) {
        LOGOUT("screenshot: capture failed");
        return false;
    }
    // Written beside and renamed, so a phone never fetches half a file.
    const std::string temporary = path + ".part";
    if (!image.save(QString::fromStdString(temporary), "JPG", 90)) {
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    LOGOUT("screenshot saved: %s", path.c_str());
    return true;
}

}  // namespace app
