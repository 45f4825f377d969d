#include "support/child_process.h"
#include "support/logger.h"
#include "transfer/file_opener.h"

namespace transfer {

namespace {

class XdgOpener : public FileOpener {
public:
    void open(const std::string& path) override {
        support::SpawnOptions options;
        options.program = "xdg-open";
        options.args = {path};
        std::string error;
        if (!support::startDetached(options, &error))
            LOGOUT("xdg-open %s failed: %s", path.c_str(), error.c_str());
    }
};

}  // namespace

std::unique_ptr<FileOpener> makeXdgOpener() { return std::make_unique<XdgOpener>(); }

}  // namespace transfer
