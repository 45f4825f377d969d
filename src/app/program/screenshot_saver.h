// MsgScreenshot: the primary screen saved as a JPEG file, captured through the
// platform's screen grabber (any thread).
#pragma once

#include "core/features.h"

#include <mutex>
#include <string>

namespace app {

class JpegScreenshotSaver : public core::ScreenshotSaver {
public:
    bool saveJpeg(const std::string& path) override;

private:
    std::mutex mutex_;  // one capture at a time
};

}  // namespace app
