// What the settings window needs from the rest of the program. The program
// wires these to the session server, the settings store, the hotspot, the
// cursor schemes and its own start-up helpers; tests give stand-ins.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace core {
class CursorSchemes;
class Settings;
}
namespace support {
class ThreadPool;
}
namespace ui::welcome {
class Hotspot;
}

namespace ui::settings {

// The session server as the basic page sees it.
class SettingsServer {
public:
    virtual ~SettingsServer() = default;
    // Network byte order; 0 when the server is not listening.
    virtual uint32_t boundAddress() = 0;
    // Every address of every adapter that is up, without 127.0.0.1 and 0.0.0.0.
    virtual std::vector<uint32_t> adapterAddresses() = 0;
    // Addresses of the identified phones, network byte order.
    virtual std::vector<uint32_t> identifiedAddresses() = 0;
    virtual bool anyIdentified() = 0;
    virtual void disconnectAll() = 0;
};

// What the product descriptor says about the product.
struct ProductInfo {
    std::string product;      // descriptor `product` as written (message box titles)
    std::string displayName;  // its display name (window title, tree root, labels)
    std::string id;
    std::string tag = "Faroline";
    std::string comment, copyright, help, web, update;
    std::string androidUrl, iosUrl;
    int64_t hideQR = 1;
};

struct SettingsDeps {
    core::Settings* settings = nullptr;
    SettingsServer* server = nullptr;
    welcome::Hotspot* hotspot = nullptr;        // may be null: opening then fails
    core::CursorSchemes* cursors = nullptr;     // may be null
    support::ThreadPool* threadPool = nullptr;  // the hotspot address wait
    ProductInfo product;
    std::string programDir;
    // The folder the program was started in (the shared installer is found there).
    std::string currentDir;
    float uiScale = 1.0f;
    // The kind of desktop session ("X11", "GNOME Wayland", ...), for the about page.
    std::string desktopSession;

    // Restarts the program through the process helper and ends this one
    // (any thread).
    std::function<void()> restartProgram;
    // Ends the program (posted to the main window; any thread).
    std::function<void()> quitProgram;
    // The hotspot page's wait for the hotspot's address (on `threadPool`);
    // the program ends it at shutdown.
    std::function<void()> waitForHotspotAddress;
    // The update download in the background (it outlives the window):
    // whether one runs, and starting one of an installer URL.
    std::function<bool()> updateDownloading;
    std::function<void(const std::string& url)> startUpdateDownload;
    // The name the PC announces; set it for the running server too.
    std::function<std::string()> serverName;
    std::function<void(const std::string&)> setServerName;
    std::function<std::string()> computerName;
    // The autostart entry: true when it is as asked (AUTO_RUN is stored then).
    std::function<bool(bool)> setAutoRun;
    // Documents folder (the document folder's default is it + "/" + tag).
    std::function<std::string()> documentsDir;
    // The document folder (DOC_DIR with its default).
    std::function<std::string()> docDir;
    // The app package offered on the helper web server, "" when none.
    std::function<std::string()> apkShareUrl;
    // Shell "open" of a file, folder or link; xdg-open when empty.
    std::function<void(const std::string&)> openFile;
    // Message boxes; Qt's when empty (tests answer them).
    std::function<bool(const std::string& title, const std::string& text)> askYesNo;
    std::function<void(const std::string& title, const std::string& text)> tell;
};

}  // namespace ui::settings
