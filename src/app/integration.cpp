#include "app/integration.h"

#include "support/files.h"
#include "support/logger.h"
#include "support/strings.h"

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace app {

namespace {

constexpr unsigned kKillOneWaitMs = 10000;

bool isExecutable(const std::string& path) {
    return support::getFileType(path) == 0 && ::access(path.c_str(), X_OK) == 0;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string baseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool isProcessRunning(const std::string& nameArg) {
    std::string wanted = upper(nameArg);
    if (wanted.size() > 4 && wanted.compare(wanted.size() - 4, 4, ".EXE") == 0)
        wanted.resize(wanted.size() - 4);
    if (wanted.empty())
        return false;
    DIR* dir = ::opendir("/proc");
    if (!dir)
        return false;
    bool found = false;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        std::string stat;
        if (!support::readFile(base + "/stat", stat))
            continue;
        size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z')
            continue;  // gone, or a zombie that only waits to be reaped
        size_t open = stat.find('(');
        std::vector<std::string> names{stat.substr(open + 1, close - open - 1)};
        char exe[4096];
        ssize_t n = ::readlink((base + "/exe").c_str(), exe, sizeof exe - 1);
        if (n > 0)
            names.push_back(baseName(std::string(exe, static_cast<size_t>(n))));
        std::string cmd;
        if (support::readFile(base + "/cmdline", cmd) && !cmd.empty())
            names.push_back(baseName(cmd.substr(0, cmd.find('\0'))));
        for (const std::string& name : names)
            found = found || upper(name).find(wanted) != std::string::npos;
        if (found)
            break;
    }
    ::closedir(dir);
    return found;
}

support::ProcessHandle launchUnelevated(const std::string& commandLine) {
    std::vector<std::string> words = support::splitCommandLine(commandLine);
    if (words.empty())
        return {};
    const std::string file = words.front();
    words.erase(words.begin());
    std::string folder = support::getFileName(file, "dir");
    support::ProcessHandle child = support::spawnProcess(file, words, folder, false);
    if (!child)
        LOGOUT("launch: cannot start %s", file.c_str());
    return child;
}

bool startDetached(const std::string& path, const std::vector<std::string>& args,
                   const std::string& folder) {
    // Everything the child needs is prepared before fork: only async-signal-safe calls after it.
    std::vector<std::string> strings{path};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0)
            ::_exit(grandchild > 0 ? 0 : 1);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)
            ::signal(sig, SIG_DFL);
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
        }
        ::execv(path.c_str(), argv.data());
        char failed = 1;
        ssize_t ignored = ::write(fds[1], &failed, 1);  // tells the parent that exec failed
        (void)ignored;
        ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    char failed = 0;
    const bool execFailed = ::read(fds[0], &failed, 1) == 1;  // EOF when exec closed the pipe
    ::close(fds[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && !execFailed;
}

void allowThroughFirewall(const std::string& programPath, const std::string& ruleName) {
    LOGOUT("firewall: no per-program rules here; %s (%s) needs its ports open", ruleName.c_str(),
           programPath.c_str());
}

std::string urlEncode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += "0123456789ABCDEF"[c >> 4];
            out += "0123456789ABCDEF"[c & 15];
        }
    }
    return out;
}

Integration::Integration(AppSettings& settings, std::string appDir, std::string productId)
    : settings_(settings), appDir_(std::move(appDir)), productId_(std::move(productId)) {}

Integration::~Integration() = default;

void Integration::openEbook() {
    const std::string path = beside("Zintra");
    if (!isExecutable(path)) {
        LOGOUT("e-book reader not installed (%s)", path.c_str());
        return;
    }
    if (!startDetached(path, {}, appDir_))
        LOGOUT("e-book reader: cannot start %s", path.c_str());
}

void Integration::miracastDisplay() {
    if (isProcessRunning("CastSink")) {
        // Its window would be told to come forward; there is no such window here.
        LOGOUT("screen-mirroring receiver already running");
        return;
    }
    const std::string path = beside("CastSink");
    if (!isExecutable(path)) {
        LOGOUT("screen-mirroring receiver not installed (%s)", path.c_str());
        return;
    }
    if (!startDetached(path, {}, appDir_))
        LOGOUT("screen-mirroring receiver: cannot start %s", path.c_str());
}

void Integration::postToWindow(int64_t handle, uint32_t message, int64_t wParam, int64_t lParam) {
    LOGOUT("no foreign windows on this system: message 0x%x (%lld, %lld) for window %lld not posted",
           message, static_cast<long long>(wParam), static_cast<long long>(lParam),
           static_cast<long long>(handle));
}

void Integration::startSiblingClient() {
    const std::string path = beside("MardeckClient");
    if (isExecutable(path) && !startDetached(path, {}, appDir_))
        LOGOUT("cannot start %s", path.c_str());
}

bool Integration::launchClassroomServer(const std::vector<std::string>& arguments) {
    const std::string path = beside("FarolineServer");
    if (!isExecutable(path)) {
        LOGOUT("classroom server not installed (%s)", path.c_str());
        return false;
    }
    std::vector<std::string> params;
    const bool handOver = productId_ == kClassroomHandOverProductId && arguments.size() >= 4 &&
                          support::toLower(arguments[1]).find("start") != std::string::npos;
    if (handOver) {
        if (isProcessRunning("FarolineServer")) {
            const int64_t window =
                settings_.store().getKeyInt(setting::kClassroomServerInteropKey, setting::FSHWND.name);
            // Its window would take host and token directly; without one the
            // running server is ended and started again with them.
            LOGOUT("classroom server running (window %lld): no window hand-over here; restarting it "
                   "with host and token",
                   static_cast<long long>(window));
            support::ProcessHandle kill = support::spawnProcess(
                appDir_ + "/taskagent", {"-kill-one", "farolineserver.exe"}, appDir_, false);
            if (kill && !support::waitForEvent(kill, kKillOneWaitMs)) {
                ::kill(kill.pid, SIGKILL);
                support::waitForEvent(kill, 0xFFFFFFFFu);
            }
        }
        params = {arguments[2], arguments[3]};
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (related_ && support::waitForEvent(related_, 0))
        related_ = {};  // the one we started before has ended
    support::ProcessHandle child = support::spawnProcess(path, params, appDir_, true);
    if (!child) {
        LOGOUT("classroom server: cannot start %s", path.c_str());
        return false;
    }
    if (related_) {
        // An earlier one is still ours: keep the newest, reap the older in time.
        ::kill(related_.pid, SIGTERM);
        support::waitForEvent(related_, 2000);
    }
    related_ = child;
    LOGOUT("classroom server started (pid %d)", static_cast<int>(child.pid));
    return true;
}

void Integration::endClassroomServer() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!related_)
        return;
    ::kill(related_.pid, SIGTERM);
    if (!support::waitForEvent(related_, 2000)) {
        ::kill(related_.pid, SIGKILL);
        support::waitForEvent(related_, 0xFFFFFFFFu);
    }
    related_ = {};
}

pid_t Integration::relatedProcess() {
    std::lock_guard<std::mutex> lock(mutex_);
    return related_.pid;
}

std::string Integration::apkShareUrl(const std::string& boundAddress, int httpPort) {
    namespace fs = std::filesystem;
    std::vector<std::string> apks;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(appDir_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && support::toLower(name.substr(name.size() - 4)) == ".apk" &&
            entry.is_regular_file(ec))
            apks.push_back(name);
    }
    if (apks.empty())
        return "";
    std::sort(apks.begin(), apks.end());
    const std::string name = apks.front();
    const std::string recv = settings_.docDir() + "/Recv";
    support::mkdir(recv);
    fs::copy_file(appDir_ + "/" + name, recv + "/" + name, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        LOGOUT("apk share: cannot copy %s to %s (%s)", name.c_str(), recv.c_str(), ec.message().c_str());
        return "";
    }
    char url[4096];
    std::snprintf(url, sizeof url, "http://%s:%d/Recv/%s", boundAddress.c_str(), httpPort,
                  urlEncode(name).c_str());
    return url;
}

}  // namespace app
