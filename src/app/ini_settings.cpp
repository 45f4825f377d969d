#include "app/ini_settings.h"

#include "support/files.h"
#include "support/logger.h"
#include "support/strings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

bool equalNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && support::toLower(a) == support::toLower(b);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool hasControl(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

// A value name must survive as the left side of "name=value".
bool validName(const std::string& name) {
    return !name.empty() && name.size() <= 255 && !hasControl(name) && trim(name) == name &&
           name.find('=') == std::string::npos && name[0] != '[' && name[0] != ';' && name[0] != '#' &&
           support::isValidUtf8(name);
}

bool validSection(const std::string& section) {
    return !section.empty() && section.size() <= 255 && !hasControl(section) &&
           section.find(']') == std::string::npos && trim(section) == section &&
           support::isValidUtf8(section);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes a quoted value starting at text[0] == '"'; false when malformed.
bool decodeQuoted(const std::string& text, std::string& out) {
    out.clear();
    size_t i = 1;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"')
            break;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
            if (i + 2 >= text.size())
                return false;
            int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    if (i >= text.size())
        return false;  // no closing quote
    return trim(text.substr(i + 1)).empty();
}

struct Signature {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{}, ctime{};
    bool operator==(const Signature& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

}  // namespace

// ---- INI text ----

const std::string* IniData::find(const std::string& section, const std::string& name) const {
    for (const Section& s : sections) {
        if (!equalNoCase(s.name, section))
            continue;
        for (const auto& [key, value] : s.values)
            if (equalNoCase(key, name))
                return &value;
    }
    return nullptr;
}

void IniData::set(const std::string& section, const std::string& name, const std::string& value) {
    for (Section& s : sections) {
        if (!equalNoCase(s.name, section))
            continue;
        for (auto& [key, old] : s.values) {
            if (equalNoCase(key, name)) {
                old = value;
                return;
            }
        }
        s.values.emplace_back(name, value);
        return;
    }
    sections.push_back(Section{section, {{name, value}}});
}

IniData parseIni(const std::string& input) {
    IniData data;
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    long current = -1;  // index: the vector may move while it grows
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find('\0') != std::string::npos || !support::isValidUtf8(line)) {
            data.damaged = true;
            continue;
        }
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) {
                data.damaged = true;
                current = -1;  // values up to the next good header belong nowhere
                continue;
            }
            std::string name = trim(line.substr(1, line.size() - 2));
            current = -1;
            for (size_t i = 0; i < data.sections.size(); ++i)
                if (equalNoCase(data.sections[i].name, name))
                    current = static_cast<long>(i);
            if (current < 0) {
                data.sections.push_back(IniData::Section{name, {}});
                current = static_cast<long>(data.sections.size()) - 1;
            }
            continue;
        }
        size_t eq = line.find('=');
        std::string key = eq == std::string::npos ? std::string() : trim(line.substr(0, eq));
        if (key.empty() || current < 0) {
            data.damaged = true;
            continue;
        }
        std::string raw = trim(line.substr(eq + 1)), value;
        if (!raw.empty() && raw[0] == '"') {
            if (!decodeQuoted(raw, value)) {
                data.damaged = true;
                continue;
            }
        } else {
            value = raw;
        }
        bool replaced = false;
        auto& values = data.sections[static_cast<size_t>(current)].values;
        for (auto& [k, v] : values) {
            if (equalNoCase(k, key)) {
                v = value;  // the last line of a name wins
                replaced = true;
            }
        }
        if (!replaced)
            values.emplace_back(key, value);
    }
    return data;
}

std::string encodeIniValue(const std::string& value) {
    const bool utf8 = support::isValidUtf8(value);
    bool quote = !utf8 || hasControl(value) || (!value.empty() && (isBlank(value.front()) ||
                                                                   isBlank(value.back()) ||
                                                                   value.front() == '"')) ||
                 value.find_first_of(";#") != std::string::npos;
    if (!quote)
        return value;
    std::string out = "\"";
    for (unsigned char c : value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f || (c >= 0x80 && !utf8)) {
                out += "\\x";
                out += support::int2char(c >> 4);
                out += support::int2char(c & 15);
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
    return out;
}

std::string formatIni(const IniData& data) {
    std::string out;
    for (const IniData::Section& s : data.sections) {
        if (!out.empty())
            out += '\n';
        out += "[" + s.name + "]\n";
        for (const auto& [key, value] : s.values)
            out += key + "=" + encodeIniValue(value) + "\n";
    }
    return out;
}

// ---- one file on disk ----

class IniSettings::File {
public:
    explicit File(std::string path) : path_(std::move(path)) {}

    bool get(const std::string& section, const std::string& name, std::string& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        refresh(false);
        const std::string* found = data_.find(section, name);
        if (!found)
            return false;
        value = *found;
        return true;
    }

    bool set(const std::string& section, const std::string& name, const std::string& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::string dir = support::getFileName(path_, "dir");
        if (!support::mkdir(dir))
            return fail("cannot create the folder");
        const std::string lockPath = path_ + ".lock";
        int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return fail("cannot open the lock file");
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        // Another process may have written since our last look.
        refresh(true);
        bool ok = true;
        if ((data_.damaged || unreadable_) && exists_) {
            const std::string kept = path_ + ".bad";
            if (::rename(path_.c_str(), kept.c_str()) == 0) {
                LOGOUT("settings: %s was damaged; the old file is kept as %s", path_.c_str(), kept.c_str());
                data_.damaged = false;
                unreadable_ = false;
            } else {
                ok = fail("cannot set the damaged file aside");
            }
        }
        if (ok) {
            data_.set(section, name, value);
            ok = support::writeFileAtomic(path_, formatIni(data_));
            if (!ok)
                fail("cannot write");
        }
        // Reading again later picks up whatever is on disk now.
        loaded_ = false;
        if (ok)
            refresh(true);
        ::flock(fd, LOCK_UN);
        ::close(fd);
        return ok;
    }

private:
    bool fail(const char* what) {
        LOGOUT("settings: %s: %s (%s)", path_.c_str(), what, std::strerror(errno));
        return false;
    }

    void refresh(bool force) {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) {
            data_ = IniData();
            exists_ = false;
            unreadable_ = false;
            loaded_ = true;
            haveSig_ = false;
            return;
        }
        Signature sig;
        sig.dev = st.st_dev;
        sig.ino = st.st_ino;
        sig.size = st.st_size;
        sig.mtime = st.st_mtim;
        sig.ctime = st.st_ctim;
        if (!force && loaded_ && haveSig_ && sig == sig_)
            return;
        exists_ = true;
        std::string text;
        const bool readable = S_ISREG(st.st_mode) && support::readFile(path_, text);
        unreadable_ = !readable;
        data_ = readable ? parseIni(text) : IniData();
        loaded_ = true;
        const bool reportedBefore = haveReport_ && report_ == sig;
        if ((unreadable_ || data_.damaged) && !reportedBefore) {
            LOGOUT("settings: %s is %s; defaults apply to what cannot be read", path_.c_str(),
                   unreadable_ ? "unreadable" : "damaged");
            report_ = sig;
            haveReport_ = true;
        }
        sig_ = sig;
        haveSig_ = true;
    }

    std::mutex mutex_;
    std::string path_;
    IniData data_;
    Signature sig_, report_;
    bool haveSig_ = false, haveReport_ = false;
    bool loaded_ = false, exists_ = false, unreadable_ = false;
};

// ---- the store ----

IniSettings::IniSettings(std::string configRoot, std::string profile) : profile_(std::move(profile)) {
    if (configRoot.empty())
        configRoot = support::configDir();
    baseDir_ = configRoot.empty() ? std::string() : configRoot + "/Quorvel";
}

IniSettings::~IniSettings() = default;

std::string IniSettings::profileKey(const std::string& section) const {
    return "Quorvel\\" + profile_ + "\\" + section;
}

bool IniSettings::mapKeyPath(const std::string& keyPath, std::string& file,
                             std::string& section) const {
    if (baseDir_.empty())
        return false;
    std::vector<std::string> parts = support::strSplit(keyPath, "\\");
    if (parts.size() < 3 || !equalNoCase(parts[0], "Quorvel"))
        return false;
    const std::string& program = parts[1];
    if (program.empty() || program == "." || program == ".." || program.find('/') != std::string::npos ||
        hasControl(program))
        return false;
    section = parts[2];
    for (size_t i = 3; i < parts.size(); ++i)
        section += "\\" + parts[i];
    if (!validSection(section))
        return false;
    file = baseDir_ + "/" + program + ".ini";
    return true;
}

IniSettings::File* IniSettings::fileFor(const std::string& path) {
    std::lock_guard<std::mutex> lock(filesMutex_);
    auto& slot = files_[path];
    if (!slot)
        slot = std::make_unique<File>(path);
    return slot.get();
}

bool IniSettings::read(const std::string& keyPath, const std::string& name, std::string& value) {
    std::string path, section;
    if (!validName(name) || !mapKeyPath(keyPath, path, section))
        return false;
    return fileFor(path)->get(section, name, value);
}

bool IniSettings::write(const std::string& keyPath, const std::string& name, const std::string& value) {
    std::string path, section;
    if (!validName(name) || !mapKeyPath(keyPath, path, section)) {
        LOGOUT("settings: refused to write %s \\ %s", keyPath.c_str(), name.c_str());
        return false;
    }
    return fileFor(path)->set(section, name, value);
}

namespace {

bool parseInt(const std::string& text, int64_t& out) {
    std::string t = trim(text);
    if (t.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        // Window handles and flags may have been written as unsigned 32-bit numbers.
        errno = 0;
        unsigned long long u = std::strtoull(t.c_str(), &end, 0);
        if (errno != 0 || *end != '\0' || t[0] == '-')
            return false;
        v = static_cast<long long>(u);
    }
    out = v;
    return true;
}

}  // namespace

int64_t IniSettings::getInt(const std::string& section, const std::string& name, int64_t def) {
    std::string text;
    int64_t value = 0;
    if (read(profileKey(section), name, text) && parseInt(text, value))
        return value;
    return def;
}

std::string IniSettings::getString(const std::string& section, const std::string& name,
                                   const std::string& def) {
    std::string text;
    return read(profileKey(section), name, text) ? text : def;
}

bool IniSettings::setInt(const std::string& section, const std::string& name, int64_t value) {
    return write(profileKey(section), name, std::to_string(value));
}

bool IniSettings::setString(const std::string& section, const std::string& name,
                            const std::string& value) {
    return write(profileKey(section), name, value);
}

int64_t IniSettings::getKeyInt(const std::string& keyPath, const std::string& name) {
    std::string text;
    int64_t value = 0;
    return read(keyPath, name, text) && parseInt(text, value) ? value : 0;
}

std::string IniSettings::getKeyString(const std::string& keyPath, const std::string& name) {
    std::string text;
    return read(keyPath, name, text) ? text : std::string();
}

bool IniSettings::setKeyInt(const std::string& keyPath, const std::string& name, int64_t value) {
    return write(keyPath, name, std::to_string(value));
}

bool IniSettings::setKeyString(const std::string& keyPath, const std::string& name,
                               const std::string& value) {
    return write(keyPath, name, value);
}

}  // namespace app
