// The settings store on disk: INI files under <config root>/Quorvel/.
//
// A key path "Quorvel\<Program>\<Section>" lives in <root>/Quorvel/<Program>.ini,
// section [<Section>] (deeper paths keep the rest, "A\B", as the section name).
// The program's own profile is the key path "Quorvel\Lumacro3\<section>", so
// getString("SET", ...) and getKeyString("Quorvel\Lumacro3\SET", ...) address
// the same value.
//
// Reads take their default at each call and see changes other processes made
// (the file is read again when its inode, size or times changed). Every write
// goes to disk at once: under an exclusive flock on "<file>.lock", the file is
// read again, changed and replaced atomically (temporary file, fsync, rename).
// Section and value names compare case-insensitively, as registry names do.
//
// Values that need it are written in double quotes with backslash escapes
// (\\ \" \n \r \t \xHH), so any text, including newlines, surrounding blanks,
// ';' and '=' round-trips exactly.
//
// A damaged file (NUL bytes, invalid UTF-8, lines that are no INI) is logged
// once; its well-formed values still read. The first write to it keeps the
// original as "<file>.bad" before a clean file replaces it. A file that cannot
// be read at all is set aside the same way on the next write.
#pragma once

#include "core/settings.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace app {

// Parsed INI text; exposed for the tests.
struct IniData {
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> values;
    };
    std::vector<Section> sections;
    bool damaged = false;  // some input could not be taken

    const std::string* find(const std::string& section, const std::string& name) const;
    void set(const std::string& section, const std::string& name, const std::string& value);
};

IniData parseIni(const std::string& text);
std::string formatIni(const IniData& data);
// The text of one value as it is written after "name=".
std::string encodeIniValue(const std::string& value);

class IniSettings : public core::Settings {
public:
    // `configRoot` empty: $XDG_CONFIG_HOME (else ~/.config).
    explicit IniSettings(std::string configRoot = {}, std::string profile = "Lumacro3");
    ~IniSettings() override;

    int64_t getInt(const std::string& section, const std::string& name, int64_t def) override;
    std::string getString(const std::string& section, const std::string& name,
                          const std::string& def) override;
    bool setInt(const std::string& section, const std::string& name, int64_t value) override;
    bool setString(const std::string& section, const std::string& name,
                   const std::string& value) override;
    int64_t getKeyInt(const std::string& keyPath, const std::string& name) override;
    std::string getKeyString(const std::string& keyPath, const std::string& name) override;
    bool setKeyInt(const std::string& keyPath, const std::string& name, int64_t value) override;
    bool setKeyString(const std::string& keyPath, const std::string& name,
                      const std::string& value) override;

    // <root>/Quorvel
    const std::string& baseDir() const { return baseDir_; }
    // File and section of a key path; false when the path cannot name a file.
    bool mapKeyPath(const std::string& keyPath, std::string& file, std::string& section) const;
    std::string profileFile() const { return baseDir_ + "/" + profile_ + ".ini"; }

private:
    class File;
    File* fileFor(const std::string& path);
    bool read(const std::string& keyPath, const std::string& name, std::string& value);
    bool write(const std::string& keyPath, const std::string& name, const std::string& value);
    std::string profileKey(const std::string& section) const;

    std::string baseDir_;
    std::string profile_;
    std::mutex filesMutex_;
    std::map<std::string, std::unique_ptr<File>> files_;
};

}  // namespace app
