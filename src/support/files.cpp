#include "support/files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace support {

namespace {

bool writeAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Reads the whole file through `sink(data, len)`; false when it cannot be read.
template <typename Sink>
bool readAll(const std::string& path, Sink sink) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char chunk[64 * 1024];
    bool ok = true;
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        sink(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok;
}

bool makeDirs(const std::string& path, mode_t mode) {
    if (path.empty()) {
        return false;
    }
    for (size_t pos = path.find('/', 1);; pos = path.find('/', pos + 1)) {
        const std::string prefix = path.substr(0, pos);
        if (prefix.back() != '/') {
            ::mkdir(prefix.c_str(), mode);  // failures show in the final check
        }
        if (pos == std::string::npos) break;
    }
    return getFileType(path) == 1;
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    passwd entry{};
    passwd* found = nullptr;
    char text[4096];
    if (getpwuid_r(getuid(), &entry, text, sizeof text, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "";
}

}  // namespace

std::string getAppDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return ".";
    }
    return withoutTrailingSlashes(exe.parent_path().string());
}

std::string getFileName(const std::string& path, const std::string& part) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (part == "name") {
        return name;
    }
    if (part == "prefix") {
        const size_t dot = name.rfind('.');
        return dot == std::string::npos ? name : name.substr(0, dot);
    }
    if (part == "dir") {
        return slash == std::string::npos ? "" : withoutTrailingSlashes(path.substr(0, slash + 1));
    }
    return "";
}

int getFileType(const std::string& path) {
    struct stat st{};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return -1;
    }
    if (S_ISREG(st.st_mode)) return 0;
    if (S_ISDIR(st.st_mode)) return 1;
    return -1;  // devices, pipes and sockets are not files we can use
}

bool mkdir(const std::string& path) { return makeDirs(path, 0755); }

bool rmdir(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) {
        return errno == ENOENT;
    }
    // Never wipe the whole file system because of an empty or odd setting.
    if (char real[PATH_MAX]; S_ISDIR(st.st_mode) && ::realpath(path.c_str(), real) != nullptr &&
                             std::string(real) == "/") {
        return false;
    }
    // remove_all does not follow symbolic links: a link is removed, not its target.
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

bool getMd5(const std::string& path, std::string& digest) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1) {
        return false;
    }
    bool hashed = true;
    const bool read = readAll(path, [&](const char* data, size_t len) {
        hashed = hashed && EVP_DigestUpdate(ctx.get(), data, len) == 1;
    });
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    if (!read || !hashed || EVP_DigestFinal_ex(ctx.get(), md, &mdLen) != 1) {
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    digest.clear();
    for (unsigned int i = 0; i < mdLen; ++i) {
        digest.push_back(kHex[md[i] >> 4]);
        digest.push_back(kHex[md[i] & 0x0F]);
    }
    return true;
}

bool writeFileAtomic(const std::string& path, const std::string& data) {
    const std::string name = getFileName(path, "name");
    if (name.empty()) {
        return false;
    }
    std::string dir = getFileName(path, "dir");
    if (dir.empty()) dir = ".";
    std::string temp = dir + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // Keep the permissions of the file being replaced; new files get rw-r--r--.
    struct stat st{};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, data.data(), data.size()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    if (const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool readFile(const std::string& path, std::string& out) {
    std::string data;
    if (!readAll(path, [&](const char* chunk, size_t len) { data.append(chunk, len); })) {
        return false;
    }
    out = std::move(data);
    return true;
}

std::string runtimeDir() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR");
        xdg != nullptr && xdg[0] == '/' && getFileType(xdg) == 1 && ::access(xdg, W_OK | X_OK) == 0) {
        return withoutTrailingSlashes(xdg);
    }
    // A shared /tmp: only use the folder when it is really ours and private,
    // not a link or folder someone else planted there.
    const uid_t uid = getuid();
    const std::string dir = "/tmp/lumacro3-" + std::to_string(uid);
    ::mkdir(dir.c_str(), 0700);
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid) {
        return "";
    }
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) {
        return "";
    }
    return dir;
}

std::string configDir() {
    std::string dir;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        dir = withoutTrailingSlashes(xdg);
    } else if (const std::string home = homeDir(); !home.empty()) {
        dir = withoutTrailingSlashes(home) + "/.config";
    } else {
        return "";
    }
    makeDirs(dir, 0700);
    return dir;
}

}  // namespace support
