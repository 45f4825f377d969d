// The photo wall and the drawing board under a private X server: pictures
// made in solid colours, served from a local HTTP server.
#pragma once

#include "common/http_server.h"
#include "common/temp_dir.h"
#include "tools_overlay/overlay_env.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <SDL2/SDL.h>

#include <mutex>
#include <string>

namespace photo_test {

using overlay_test::Env;
using overlay_test::near;

// A picture in one colour, or with its top and bottom halves in two.
inline bool savePicture(const std::string& path, int w, int h, QRgb top, QRgb bottom) {
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(0, 0, w, h / 2, QColor::fromRgb(top));
    p.fillRect(0, h / 2, w, h - h / 2, QColor::fromRgb(bottom));
    p.end();
    return image.save(QString::fromStdString(path));
}

inline bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A private X server with the Qt application and SDL video on it.
class XEnv {
public:
    explicit XEnv(bool windowManager = false) : env_(false, windowManager) {
        if (!env_.ok()) return;
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        sdl_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    ~XEnv() {
        if (sdl_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    bool ok() const { return env_.ok() && sdl_; }

private:
    Env env_;
    bool sdl_ = false;
};

}  // namespace photo_test
