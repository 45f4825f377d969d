#include "app/helper_servers.h"

#include "app/helper_registry.h"
#include "app/ini_settings.h"
#include "app/firewall.h"
#include "support/files.h"
#include "support/logger.h"
#include "support/proc_table.h"
#include "support/strings.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace app {

namespace {

constexpr std::chrono::milliseconds kCfgWait{10000};
constexpr std::chrono::milliseconds kQuitWait{5000};
constexpr std::chrono::milliseconds kTermWait{2000};

bool anyAddress(const std::string& a) { return a.empty() || a == "0.0.0.0"; }

std::string environValue(pid_t pid, const std::string& name) {
    std::string text;
    if (!support::readFile("/proc/" + std::to_string(pid) + "/environ", text))
        return "";
    for (const std::string& entry : support::strSplit(text, std::string(1, '\0')))
        if (entry.compare(0, name.size() + 1, name + "=") == 0)
            return entry.substr(name.size() + 1);
    return "";
}

bool ownProcess(pid_t pid) {
    return support::processUid(pid) == static_cast<long>(::getuid());
}

// Ends a process that is not our child: SIGTERM, then SIGKILL.
void endProcess(const support::ProcessId& id) {
    if (support::terminateProcesses({id}, kTermWait) != 1)
        LOGOUT("helper servers: pid %d could not be ended", static_cast<int>(id.pid));
}

// Starts a helper with stdin from /dev/null, stdout and stderr into `logFile`,
// and `extraEnv` ("NAME=value") added to our environment.
support::ChildProcess spawnHelper(const std::string& file, const std::vector<std::string>& args,
                                  const std::vector<std::string>& extraEnv, const std::string& logFile) {
    support::SpawnOptions options;
    options.program = file;
    options.args = args;
    options.env = extraEnv;
    options.out = logFile.empty() ? support::SpawnOptions::Stream::Null : support::SpawnOptions::Stream::File;
    options.err = options.out;
    options.file = logFile;
    std::string error;
    support::ChildProcess child = support::spawn(options, &error);
    if (!child)
        LOGOUT("helper servers: cannot start %s: %s", file.c_str(), error.c_str());
    return child;
}

// True when a TCP connect to address:port succeeds.
bool portAnswers(const std::string& address, int port) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = support::string2ip(anyAddress(address) ? "127.0.0.1" : address);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(s);
    return ok;
}

bool executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// The value after `flag` in an argument list.
std::string argAfter(const std::vector<std::string>& args, const std::string& flag) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == flag)
            return args[i + 1];
    return "";
}

}  // namespace

HelperServers::HelperServers(HelperServerOptions options) : options_(std::move(options)) {
    if (options_.taskagent.empty())
        options_.taskagent = options_.appDir + "/taskagent";
    if (options_.address == "0.0.0.0")
        options_.address.clear();
}

HelperServers::~HelperServers() {
    stop();
}

std::string HelperServers::nginxPrefix() {
    const std::string root = support::configDir();
    return root.empty() ? std::string() : root + "/Quorvel/helpers/nginx/";
}

std::string HelperServers::ftpdConfigPath() {
    const std::string root = support::configDir();
    return root.empty() ? std::string() : root + "/Quorvel/helpers/ftpd/ftpd.conf";
}

std::string HelperServers::listenAddress() const {
    return options_.address.empty() ? "0.0.0.0" : options_.address;
}

void HelperServers::start() {
    if (!writeConfig())
        LOGOUT("helper servers: configuration not written; using what an earlier run left");
    allowThroughFirewall(options_.python, "fileftpd");
    allowThroughFirewall(options_.nginx, "myhttpd");
    startFtp();
    startHttp();
    waitReady();
}

bool HelperServers::writeConfig() {
    if (!executable(options_.taskagent)) {
        LOGOUT("helper servers: %s is missing", options_.taskagent.c_str());
        return false;
    }
    std::vector<std::string> args{"-cfg", options_.docDir, std::to_string(options_.httpPort),
                                  std::to_string(options_.ftpPort)};
    if (!options_.address.empty())
        args.push_back(options_.address);
    support::ChildProcess child = support::spawnProcess(options_.taskagent, args, options_.appDir, false);
    if (!child) {
        LOGOUT("helper servers: cannot run %s", options_.taskagent.c_str());
        return false;
    }
    if (!child.wait(kCfgWait)) {
        LOGOUT("helper servers: taskagent -cfg did not finish; ended");
        child.terminate(kTermWait);
        return false;
    }
    if (child.exitCode() != 0) {
        LOGOUT("helper servers: taskagent -cfg failed (exit code %d)", child.exitCode());
        return false;
    }
    return true;
}

std::vector<FtpHolder> HelperServers::findFtpHolders(int port, const std::string& address) {
    std::vector<FtpHolder> holders;
    for (const support::ProcessInfo& info : support::ownProcesses()) {
        const std::vector<std::string>& args = info.args;
        if (argAfter(args, "-m") != "pyftpdlib" || argAfter(args, "-p") != std::to_string(port))
            continue;
        FtpHolder holder;
        holder.pid = info.pid;
        holder.id = info.id();
        holder.address = argAfter(args, "-i");
        if (!anyAddress(holder.address) && !anyAddress(address) && holder.address != address)
            continue;  // another address: no clash
        holder.root = argAfter(args, "-d");
        holder.owner = environValue(info.pid, kOwnerVariable);
        holders.push_back(holder);
    }
    return holders;
}

void HelperServers::startFtp() {
    if (ftp_)
        return;
    // What taskagent -cfg wrote, with our options where it says nothing.
    std::string text;
    IniData conf;
    if (support::readFile(ftpdConfigPath(), text))
        conf = parseIni(text);
    auto value = [&](const char* name, const std::string& def) {
        const std::string* v = conf.find("ftpd", name);
        return v && !v->empty() ? *v : def;
    };
    const std::string root = value("root", options_.docDir);
    std::string port = value("port", std::to_string(options_.ftpPort));
    const int portNumber = std::atoi(port.c_str());
    if (portNumber < 1 || portNumber > 65535)
        port = std::to_string(options_.ftpPort);
    const std::string address = value("address", listenAddress());
    const std::string user = value("user", "ftpd");
    const std::string password = value("password", "Nq4vT8wa");
    const std::string passive = value("passive_ports", "17200-17299");

    // An FTP server left on our port: ours from an earlier run, or another copy's.
    const std::string expected = options_.appDir;
    for (const FtpHolder& holder : findFtpHolders(std::atoi(port.c_str()), address)) {
        const std::string installed =
            holder.owner.empty() ? "pid " + std::to_string(holder.pid) : holder.owner;
        if (holder.owner != expected)
            LOGOUT("ftp path no match!!! %s, %s", installed.c_str(), expected.c_str());
        else
            LOGOUT("ftp: ending the server left from an earlier run (pid %d, folder %s)",
                   static_cast<int>(holder.pid), holder.root.c_str());
        endProcess(holder.id);
    }
    forgetHelper("ftpd");

    if (!executable(options_.python)) {
        LOGOUT("ftp: %s is missing; no FTP server", options_.python.c_str());
        return;
    }
    if (portAnswers(address, std::atoi(port.c_str()))) {
        LOGOUT("ftp: port %s on %s is held by another program; no FTP server", port.c_str(),
               address.c_str());
        return;
    }
    const std::string logFile = support::getFileName(ftpdConfigPath(), "dir") + "/ftpd.log";
    ftp_ = spawnHelper(options_.python,
                       {"-m", "pyftpdlib", "-i", address, "-p", port, "-w", "-d", root, "-u", user, "-P",
                        password, "-r", passive},
                       {std::string(kOwnerVariable) + "=" + expected}, logFile);
    if (!ftp_) {
        LOGOUT("ftp: cannot start %s", options_.python.c_str());
        return;
    }
    recordHelper("ftpd", ftp_.pid(), options_.python);
    LOGOUT("ftp: started (pid %d) on %s:%s serving %s", static_cast<int>(ftp_.pid()), address.c_str(),
           port.c_str(), root.c_str());
}

void HelperServers::startHttp() {
    if (http_)
        return;
    const std::string prefix = nginxPrefix();
    const std::string conf = prefix + "conf/nginx.conf";
    if (prefix.empty() || support::getFileType(conf) != 0) {
        LOGOUT("http: no configuration at %s; no web server", conf.c_str());
        return;
    }
    if (!executable(options_.nginx)) {
        LOGOUT("http: %s is missing; no web server", options_.nginx.c_str());
        return;
    }
    // A server of an earlier run still holding our prefix (its pid file or record).
    std::vector<pid_t> leftovers;
    std::string pidText;
    if (support::readFile(prefix + "logs/nginx.pid", pidText))
        leftovers.push_back(static_cast<pid_t>(std::atoi(pidText.c_str())));
    for (const HelperRecord& record : listHelpers())
        if (record.name == "nginx")
            leftovers.push_back(record.pid);
    for (pid_t pid : leftovers) {
        const auto id = pid > 1 ? support::processId(pid) : std::nullopt;
        if (id && ownProcess(pid) && support::baseName(support::processExe(pid)) == "nginx") {
            LOGOUT("http: ending the web server left from an earlier run (pid %d)", static_cast<int>(pid));
            endProcess(*id);
        }
    }
    forgetHelper("nginx");

    if (portAnswers(options_.address, options_.httpPort)) {
        LOGOUT("http: port %d on %s is held by another program; no web server", options_.httpPort,
               listenAddress().c_str());
        return;
    }
    http_ = spawnHelper(options_.nginx,
                        {"-p", prefix, "-c", "conf/nginx.conf", "-e", prefix + "logs/error.log"}, {},
                        prefix + "logs/stderr.log");
    if (!http_) {
        LOGOUT("http: cannot start %s", options_.nginx.c_str());
        return;
    }
    recordHelper("nginx", http_.pid(), options_.nginx);
    LOGOUT("http: started (pid %d) on %s:%d", static_cast<int>(http_.pid()), listenAddress().c_str(),
           options_.httpPort);
}

void HelperServers::waitReady() {
    struct Pending {
        support::ChildProcess* child;
        const char* name;
        const char* record;
        int port;
        bool done;
    };
    Pending pending[] = {{&ftp_, "ftp", "ftpd", options_.ftpPort, !ftp_},
                         {&http_, "http", "nginx", options_.httpPort, !http_}};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.readyWaitMs);
    for (;;) {
        bool all = true;
        for (Pending& p : pending) {
            if (p.done)
                continue;
            if (p.child->tryReap()) {
                LOGOUT("%s: the server ended at start (exit code %d, signal %d); is the port in use? See its "
                       "log under %s",
                       p.name, p.child->exitCode(), p.child->termSignal(),
                       support::getFileName(ftpdConfigPath(), "dir").c_str());
                forgetHelper(p.record);
                p.done = true;
                continue;
            }
            if (portAnswers(options_.address, p.port)) {
                p.done = true;
                continue;
            }
            all = false;
        }
        if (all)
            return;
        if (std::chrono::steady_clock::now() >= deadline) {
            for (const Pending& p : pending)
                if (!p.done)
                    LOGOUT("%s: not answering yet on port %d; going on", p.name, p.port);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void HelperServers::stop() {
    const bool any = ftp_ || http_;
    stopFtp();
    stopHttp();
    if (any)
        LOGOUT("myftp & nginx closed");
}

void HelperServers::stopFtp() {
    if (!ftp_)
        return;
    if (!ftp_.terminate(kTermWait))
        LOGOUT("ftp: the server could not be ended");
    forgetHelper("ftpd");
}

void HelperServers::stopHttp() {
    if (!http_)
        return;
    const std::string prefix = nginxPrefix();
    support::ChildProcess quit = support::spawnProcess(
        options_.nginx, {"-p", prefix, "-c", "conf/nginx.conf", "-e", prefix + "logs/error.log", "-s", "quit"},
        "", false);
    if (quit && !quit.wait(kQuitWait))
        quit.terminate(kTermWait);
    if (!http_.wait(kQuitWait)) {
        LOGOUT("http: the web server did not quit; ending it");
        if (!http_.terminate(kTermWait))
            LOGOUT("http: the web server could not be ended");
    }
    forgetHelper("nginx");
}

}  // namespace app
