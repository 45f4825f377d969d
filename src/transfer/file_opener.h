// Where received files go to be shown: the desktop's default application and
// the slide-show bridge.
#pragma once

#include <memory>
#include <string>

namespace transfer {

// Opens a file with the desktop's default application for its type.
class FileOpener {
public:
    virtual ~FileOpener() = default;
    virtual void open(const std::string& path) = 0;
};

// Opens files through xdg-open, detached so it may outlive the call.
std::unique_ptr<FileOpener> makeXdgOpener();

// The slide-show bridge as file receive uses it.
class PresentationOpener {
public:
    virtual ~PresentationOpener() = default;
    virtual void openPresentation(const std::string& path) = 0;
    // Publishes the slide images into `folder` under `key` (the file's MD5).
    virtual void publishSlides(const std::string& folder, const std::string& key) = 0;
};

}  // namespace transfer
