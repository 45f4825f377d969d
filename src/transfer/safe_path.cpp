#include "transfer/safe_path.h"

#include <filesystem>
#include <system_error>

namespace transfer {

namespace fs = std::filesystem;

std::string safeFileName(const std::string& name) {
    if (name.find('\0') != std::string::npos)
        return {};
    const size_t slash = name.find_last_of("/\\");
    std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    if (last == "." || last == "..")
        return {};
    return last;
}

std::string resolveInside(const std::string& folder, const std::string& relative) {
    if (folder.empty() || relative.find('\0') != std::string::npos)
        return {};
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(fs::path(folder), ec);
    if (ec)
        return {};
    // Joined as text so that an absolute `relative` stays below the folder.
    const fs::path full = fs::weakly_canonical(fs::path(folder + "/" + relative), ec);
    if (ec)
        return {};
    // Component-wise prefix test: "/doc" must not admit "/doc2/x".
    auto b = base.begin();
    auto f = full.begin();
    for (; b != base.end(); ++b, ++f) {
        if (b->empty() && std::next(b) == base.end())
            break;  // trailing separator of the folder
        if (f == full.end() || *f != *b)
            return {};
    }
    if (f == full.end() || (f->empty() && std::next(f) == full.end()))
        return {};
    return full.string();
}

}  // namespace transfer
