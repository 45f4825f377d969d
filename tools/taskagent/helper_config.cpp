// -cfg: configuration of the helper web server (nginx) and FTP server.
#include "taskagent/taskagent.h"

#include "support/files.h"
#include "support/logger.h"
#include "support/strings.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace taskagent {

namespace {

constexpr const char* kTempDirs[] = {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"};
constexpr const char kSystemMimeTypes[] = "/etc/nginx/mime.types";

// Used when the system's nginx comes without its mime.types.
constexpr const char kInlineTypes[] =
    "    types {\n"
    "        text/html html htm;\n"
    "        text/css css;\n"
    "        text/plain txt;\n"
    "        text/xml xml;\n"
    "        application/javascript js;\n"
    "        application/json json;\n"
    "        application/pdf pdf;\n"
    "        application/zip zip;\n"
    "        image/jpeg jpeg jpg;\n"
    "        image/png png;\n"
    "        image/gif gif;\n"
    "        image/bmp bmp;\n"
    "        image/webp webp;\n"
    "        image/svg+xml svg svgz;\n"
    "        image/x-icon ico;\n"
    "        audio/mpeg mp3;\n"
    "        video/mp4 mp4;\n"
    "    }\n";

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

}  // namespace

std::string normalizeDocDir(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '\\')
            c = '/';
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out += c;
    }
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

bool parsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

bool safeConfigPath(const std::string& path) {
    if (path.empty() || path[0] != '/')
        return false;
    for (unsigned char c : path) {
        // '$' starts a variable in nginx strings, '\' an escape; the rest end
        // a quoted string, a directive or a block, or an INI line.
        if (c < 0x20 || c == 0x7f || c == ';' || c == '{' || c == '}' || c == '"' || c == '$' ||
            c == '\\')
            return false;
    }
    return true;
}

std::string nginxConfig(const std::string& prefix, const std::string& docDir, int port,
                        bool runAsRoot, const std::string& mimeTypesFile,
                        const std::string& address) {
    std::string c;
    c += "# Helper web server of Lumacro3: serves the document folder read-only.\n";
    c += "# Written by taskagent -cfg; changes are overwritten.\n";
    c += "daemon off;\n";
    if (runAsRoot)
        c += "user root;\n";  // the default worker user could not read root's documents
    c += "worker_processes 1;\n";
    c += "pid " + quoted(prefix + "logs/nginx.pid") + ";\n";
    c += "error_log " + quoted(prefix + "logs/error.log") + ";\n\n";
    c += "events {\n    worker_connections 256;\n}\n\n";
    c += "http {\n";
    c += "    access_log " + quoted(prefix + "logs/access.log") + ";\n";
    for (const char* temp : kTempDirs)
        c += std::string("    ") + temp + "_temp_path " + quoted(prefix + "temp/" + temp) + ";\n";
    if (!mimeTypesFile.empty())
        c += "    include " + quoted(mimeTypesFile) + ";\n";
    else
        c += kInlineTypes;
    c += "    default_type application/octet-stream;\n";
    c += "    sendfile on;\n";
    c += "    server_tokens off;\n\n";
    c += "    server {\n";
    c += "        listen " + (address.empty() ? "" : address + ":") + std::to_string(port) + ";\n";
    c += "        root " + quoted(docDir) + ";\n";
    c += "        autoindex off;\n";
    c += "        location / {\n";
    c += "            limit_except GET { deny all; }\n";  // GET also covers HEAD
    c += "        }\n";
    c += "    }\n";
    c += "}\n";
    return c;
}

std::string ftpdConfig(const std::string& docDir, int port, const std::string& address) {
    std::string c;
    c += "; Helper FTP server of Lumacro3. Written by taskagent -cfg.\n";
    c += "[ftpd]\n";
    c += "root=" + docDir + "\n";
    if (!address.empty())
        c += "address=" + address + "\n";
    c += "port=" + std::to_string(port) + "\n";
    c += "user=ftpd\n";
    c += "password=Nq4vT8wa\n";
    c += "passive_ports=17200-17299\n";
    return c;
}

int cmdCfg(const std::string& docDirArg, const std::string& httpPortArg,
           const std::string& ftpPortArg, const std::string& address) {
    int httpPort = 0;
    int ftpPort = 0;
    if (!parsePort(httpPortArg, httpPort) || !parsePort(ftpPortArg, ftpPort)) {
        std::fprintf(stderr, "taskagent: -cfg: ports must be numbers from 1 to 65535\n");
        return kUsage;
    }
    if (httpPort == ftpPort) {
        std::fprintf(stderr, "taskagent: -cfg: the HTTP and FTP ports must differ\n");
        return kUsage;
    }
    if (!address.empty() && !support::isDottedIPv4(address)) {
        std::fprintf(stderr, "taskagent: -cfg: not an IPv4 address: %s\n", address.c_str());
        return kUsage;
    }
    const std::string docDir = normalizeDocDir(docDirArg);
    if (!safeConfigPath(docDir)) {
        std::fprintf(stderr, "taskagent: -cfg: document folder refused: %s\n", docDir.c_str());
        LOGOUT("cfg: document folder refused (not absolute or unsafe characters): %s", docDir.c_str());
        return kUsage;
    }

    const std::string configRoot = support::configDir();
    const std::string base = configRoot + "/Quorvel/helpers";
    if (configRoot.empty() || !safeConfigPath(base)) {
        std::fprintf(stderr, "taskagent: -cfg: configuration folder unusable: %s\n", base.c_str());
        LOGOUT("cfg: configuration folder unusable: %s", base.c_str());
        return kFailed;
    }
    const std::string prefix = base + "/nginx/";
    const std::string ftpdDir = base + "/ftpd";
    bool ok = support::mkdir(prefix + "conf") && support::mkdir(prefix + "logs") &&
              support::mkdir(ftpdDir);
    for (const char* temp : kTempDirs)
        ok = ok && support::mkdir(prefix + "temp/" + temp);
    if (!ok) {
        std::fprintf(stderr, "taskagent: -cfg: cannot create folders under %s\n", base.c_str());
        return kFailed;
    }

    const bool systemTypes = ::access(kSystemMimeTypes, R_OK) == 0;
    const std::string nginxFile = prefix + "conf/nginx.conf";
    const std::string ftpdFile = ftpdDir + "/ftpd.conf";
    // The FTP file holds a password: create it private first, the atomic
    // rewrite keeps the mode of the file it replaces.
    int fd = ::open(ftpdFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
    if (!support::writeFileAtomic(nginxFile, nginxConfig(prefix, docDir, httpPort, ::geteuid() == 0,
                                                         systemTypes ? kSystemMimeTypes : "", address)) ||
        !support::writeFileAtomic(ftpdFile, ftpdConfig(docDir, ftpPort, address))) {
        std::fprintf(stderr, "taskagent: -cfg: cannot write the configuration under %s\n", base.c_str());
        LOGOUT("cfg: writing the configuration failed under %s", base.c_str());
        return kFailed;
    }

    std::printf("nginx-prefix: %s\n", prefix.c_str());
    std::printf("ftpd-config: %s\n", ftpdFile.c_str());
    LOGOUT("cfg: web server on port %d, FTP on port %d, documents in %s", httpPort, ftpPort,
           docDir.c_str());
    return kOk;
}

}  // namespace taskagent
