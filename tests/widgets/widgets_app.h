// One QApplication for the widget tests. The widgets are drawn off screen
// (QWidget::grab), so these tests need no X display.
#pragma once

#include "common/run_command.h"

#include <QApplication>
#include <QImage>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace widgets_test {

inline QApplication* qtApp() {
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "test_widgets";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);  // lives until the process ends
    }();
    return app;
}

// What zbarimg, an independent QR reader, reads from the picture: the exact
// bytes of the first code, "" when it finds none.
inline std::string readQr(const QImage& picture) {
    char path[] = "/tmp/lumacro3-qr-XXXXXX.png";
    const int fd = ::mkstemps(path, 4);
    if (fd < 0) return {};
    ::close(fd);
    picture.save(QString::fromLatin1(path), "PNG");
    const std::string text =
        testing_support::commandOutput(std::string("zbarimg --raw -q -Sbinary ") + path + " 2>/dev/null");
    ::unlink(path);
    return text;
}

// A white border around a picture, as the window around a QR box gives it.
inline QImage withQuietZone(const QImage& picture, int border) {
    QImage framed(picture.width() + 2 * border, picture.height() + 2 * border, QImage::Format_RGB32);
    framed.fill(Qt::white);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) framed.setPixel(x + border, y + border, picture.pixel(x, y));
    return framed;
}

}  // namespace widgets_test
