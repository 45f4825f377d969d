// Sharing the phone app's installation package through the helper web server.
#pragma once

#include <string>

namespace app {

// Copies the first *.apk of `appDir` (by name) into `docDir`/Recv and returns
// its address on the helper web server; "" when there is none or the copy failed.
std::string apkShareUrl(const std::string& appDir, const std::string& docDir,
                        const std::string& boundAddress, int httpPort = 27272);

}  // namespace app
