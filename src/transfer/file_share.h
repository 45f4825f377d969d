// Sharing one file with the phones' browsers: a copy in the receive folder,
// which the helper web server publishes, and its download address.
#pragma once

#include "core/settings.h"

#include <string>

namespace transfer {

inline constexpr int kShareHttpPort = 27272;

// Full path of the first "*.apk" in `folder` (by name), "" when there is none.
std::string firstApk(const std::string& folder);

// "<docDir>/Recv/<file name of shared>".
std::string publishedCopy(const std::string& docDir, const std::string& shared);

// "http://<address>:27272/Recv/<escaped file name>" (every byte but the URL
// unreserved ones percent-escaped).
std::string shareDownloadUrl(const std::string& boundAddress, const std::string& shared);

// Copies `shared` over its published copy; false when it could not.
bool copyToPublished(const std::string& shared, const std::string& docDir);

struct SharePreparation {
    std::string shared;      // the shared file ("" when none)
    bool publish = false;    // its copy is in place: show the code
    bool md5Matched = false; // the copy was there already, not copied again
};

// The page's start: `ShareFile` (default: the first installer in
// `currentFolder`); a value that names no regular file is replaced by that
// installer and stored. The copy is refreshed unless its MD5 equals the
// shared file's.
SharePreparation prepareShare(core::Settings& settings, const std::string& currentFolder,
                              const std::string& docDir);

}  // namespace transfer
