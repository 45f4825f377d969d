// Typed access to every setting of the program with its default and rule.
// Reads go to the store each time (the settings pages and other processes may
// have changed a value); writes go to disk at once.
#pragma once

#include "core/settings.h"

#include <cstdint>
#include <string>

namespace app {

// One integer setting: section, value name, default.
struct IntSetting {
    const char* section;
    const char* name;
    int64_t def;
};

namespace setting {
// The section names live with the store interface.
using core::setting::DBG;
using core::setting::Interop;
using core::setting::NET;
using core::setting::SET;

inline constexpr IntSetting AUTO_HIDE{SET, "AUTO_HIDE", 0};
inline constexpr IntSetting AUTO_RUN{SET, "AUTO_RUN", 0};
inline constexpr IntSetting MAINWND{SET, "MAINWND", 0};
inline constexpr IntSetting SHOW_CURSOR{SET, "SHOW_CURSOR", 0};
inline constexpr IntSetting CURSOR{SET, "CURSOR", 9};
inline constexpr IntSetting FRAME_RATE{SET, "FRAME_RATE", 20};
inline constexpr IntSetting QUALITY{SET, "QUALITY", 1};
inline constexpr IntSetting RECORD_FRAME_RATE{SET, "RECORD_FRAME_RATE", 10};
inline constexpr IntSetting RECORD_QUALITY{SET, "RECORD_QUALITY", 1};
inline constexpr IntSetting BRUSH_SIZE{SET, "BRUSH_SIZE", 5};
inline constexpr IntSetting CAMERAWIDTH{SET, "CAMERAWIDTH", 400};
inline constexpr IntSetting CAMERAHEIGHT{SET, "CAMERAHEIGHT", 300};
inline constexpr IntSetting CAMERAX{SET, "CAMERAX", 10000};
inline constexpr IntSetting CAMERAY{SET, "CAMERAY", 10000};
inline constexpr IntSetting lastClearTemp{SET, "lastClearTemp", 0};
inline constexpr IntSetting DBG_on{DBG, "on", 0};
inline constexpr IntSetting DBG_file{DBG, "file", 0};
inline constexpr IntSetting FSHWND{Interop, "FSHWND", 0};

// String values (section SET unless said otherwise).
inline constexpr const char language[] = "language";
inline constexpr const char srvName[] = "srvName";
inline constexpr const char DOC_DIR[] = "DOC_DIR";
inline constexpr const char CURSOR_PATH[] = "CURSOR_PATH";
inline constexpr const char WATERMARK[] = "WATERMARK";
inline constexpr const char lastfile[] = "lastfile";
inline constexpr const char ShareFile[] = "ShareFile";
inline constexpr const char bindIp[] = "bindIp";  // section NET

// Values under explicit key paths.
inline constexpr const char kProgramSetKey[] = "Quorvel\\Lumacro3\\SET";
inline constexpr const char Corvex[] = "Corvex";
inline constexpr const char kClassroomServerSetKey[] = "Quorvel\\FarolineServer\\SET";
inline constexpr const char pexloStartup[] = "pexloStartup";
inline constexpr const char kClassroomServerInteropKey[] = "Quorvel\\FarolineServer\\Interop";
inline constexpr const char kMardeckClientSetKey[] = "Quorvel\\MardeckClient\\SET";
}  // namespace setting

// The user's Documents folder: `xdg-user-dir DOCUMENTS`, or $HOME/Documents
// when that gives nothing, $HOME itself (no user-dirs file) or a relative path.
std::string userDocumentsDir();
// gethostname, cut to 63 UTF-16 units; "localhost" when it fails.
std::string computerName();
// "zh-TW" and "ChineseTraditional" read as "zh-CN"; empty as "zh-CN".
std::string normalizeLanguage(const std::string& tag);

class AppSettings {
public:
    // `productTag` names the default document folder ("Faroline" when empty).
    // `documentsDir` empty: userDocumentsDir(), looked up on first use.
    AppSettings(core::Settings& store, std::string productTag, std::string documentsDir = {});

    core::Settings& store() { return store_; }

    int64_t get(const IntSetting& s) { return store_.getInt(s.section, s.name, s.def); }
    bool set(const IntSetting& s, int64_t value) { return store_.setInt(s.section, s.name, value); }

    std::string language();          // normalised
    bool setLanguage(const std::string& tag);
    std::string serverName();        // default computerName()
    bool setServerName(const std::string& name);
    std::string bindIp();            // default "0.0.0.0"
    bool setBindIp(const std::string& address);
    std::string cursorPath();
    std::string watermark();
    std::string lastFile();
    bool setLastFile(const std::string& path);
    std::string shareFile();
    bool setShareFile(const std::string& path);

    // Documents folder + "/" + product tag.
    std::string defaultDocDir();
    // DOC_DIR with its default; the default folder is created first.
    std::string docDir();
    bool setDocDir(const std::string& path);
    // Start-up: reads DOC_DIR, writes it back, creates Record, Snapshot, Recv
    // and .temp and empties .temp/public. Returns the folder.
    std::string prepareDocDir();

    // The classroom server's launch flag (written 0 at start-up and exit).
    int64_t corvex();
    bool setCorvex(int64_t value);

private:
    std::string getSet(const char* name, const std::string& def) {
        return store_.getString(setting::SET, name, def);
    }

    core::Settings& store_;
    std::string tag_;
    std::string documents_;
};

}  // namespace app
