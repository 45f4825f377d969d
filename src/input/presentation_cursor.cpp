#include "input/presentation_cursor.h"

#include "input/cursor_file.h"
#include "input/cursor_window.h"
#include "support/logger.h"

#include <QCoreApplication>
#include <QThread>

namespace input {
namespace {

constexpr const char kCursorPath[] = "CURSOR_PATH";

// The picture of a cursor file; empty when it cannot be read.
CursorPicture loadPicture(const std::string& path) {
    CursorPicture picture;
    CursorFile file;
    std::string error;
    if (!loadCursorFile(path, file, &error)) {
        // Other picture formats (PNG, XPM, ...) as a custom cursor, hot spot top left.
        QImage image(QString::fromStdString(path));
        if (!image.isNull() && image.width() <= 256 && image.height() <= 256) {
            picture.steps.push_back({image.convertToFormat(QImage::Format_ARGB32), QPoint(0, 0), 0});
            return picture;
        }
        LOGOUT("cursor file %s cannot be loaded: %s", path.c_str(), error.c_str());
        return picture;
    }
    std::vector<QImage> images;
    for (const CursorFrame& f : file.frames) {
        QImage image;
        if (!f.png.empty()) {
            image = QImage::fromData(reinterpret_cast<const uchar*>(f.png.data()), int(f.png.size()), "PNG");
        } else {
            image = QImage(f.width, f.height, QImage::Format_ARGB32);
            for (int y = 0; y < f.height; ++y)
                std::copy_n(f.argb.data() + size_t(y) * f.width, f.width,
                            reinterpret_cast<QRgb*>(image.scanLine(y)));
        }
        if (image.isNull()) {
            LOGOUT("cursor file %s: a frame cannot be decoded", path.c_str());
            return {};
        }
        images.push_back(image.convertToFormat(QImage::Format_ARGB32));
    }
    for (size_t i = 0; i < file.sequence.size(); ++i) {
        const CursorFrame& f = file.frames[file.sequence[i]];
        picture.steps.push_back({images[file.sequence[i]], QPoint(f.hotX, f.hotY), file.delaysMs[i]});
    }
    return picture;
}

}  // namespace

const char* const PresentationCursor::kSchemeFiles[8] = {"0.cur", "1.ani", "2.cur", "3.ani",
                                                         "4.cur", "5.ani", "6.ani", "7.ani"};

PresentationCursor::PresentationCursor(core::Settings* settings, std::string programDir,
                                       platform::InputInjector* pointer)
    : settings_(settings), programDir_(std::move(programDir)), pointer_(pointer) {}

PresentationCursor::~PresentationCursor() { restore(); }

void PresentationCursor::apply(int scheme) {
    if (QThread::currentThread() == thread()) return applyHere(scheme);
    QMetaObject::invokeMethod(this, [this, scheme] { applyHere(scheme); }, Qt::QueuedConnection);
}

bool PresentationCursor::active() const { return window_ && window_->isVisible(); }

void PresentationCursor::applyHere(int scheme) {
    if (scheme < 0) return;
    if (scheme >= 9) return restore();
    std::string path;
    if (scheme == 8) {
        if (settings_) path = settings_->getString(core::setting::SET, kCursorPath, "");
        if (path.empty()) return;  // no custom cursor: nothing changes
    } else {
        path = programDir_ + "/cursor/" + kSchemeFiles[scheme];
    }
    CursorPicture picture = loadPicture(path);
    if (picture.steps.empty()) return;  // the cursor stays as it is
    if (!window_) window_ = std::make_unique<CursorWindow>();
    window_->start(std::move(picture));
    if (pointer_) pointer_->setSystemPointerHidden(true);
    LOGOUT("cursor scheme %d: %s", scheme, path.c_str());
}

void PresentationCursor::restore() {
    if (window_) window_->stop();
    if (pointer_) pointer_->setSystemPointerHidden(false);
}

}  // namespace input
