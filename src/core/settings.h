// The settings store as the program uses it: profile sections of the program
// (SET, NET, DBG, Interop) and explicit key paths of related products
// ("Quorvel\FarolineServer\SET"). Reads take their default at each call.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace core {

class Settings {
public:
    virtual ~Settings() = default;
    virtual int64_t getInt(const std::string& section, const std::string& name, int64_t def) = 0;
    virtual std::string getString(const std::string& section, const std::string& name,
                                  const std::string& def) = 0;
    virtual bool setInt(const std::string& section, const std::string& name, int64_t value) = 0;
    virtual bool setString(const std::string& section, const std::string& name,
                           const std::string& value) = 0;

    // Values under an explicit key path (backslash separated, relative to the
    // per-user root), e.g. ("Quorvel\FarolineServer\SET", "pexloStartup").
    // A missing value reads as 0 or "".
    virtual int64_t getKeyInt(const std::string& keyPath, const std::string& name) = 0;
    virtual std::string getKeyString(const std::string& keyPath, const std::string& name) = 0;
    virtual bool setKeyInt(const std::string& keyPath, const std::string& name, int64_t value) = 0;
    virtual bool setKeyString(const std::string& keyPath, const std::string& name,
                              const std::string& value) = 0;
};

// Settings kept in memory only: for tests and for running without a store.
// Profile sections live under the key path "Quorvel\Lumacro3\<section>", so
// both views address the same values.
class MemorySettings : public Settings {
public:
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

private:
    static std::string profileKey(const std::string& section);
    std::mutex mutex_;
    std::map<std::string, std::map<std::string, std::string>> strings_;
    std::map<std::string, std::map<std::string, int64_t>> ints_;
};

// Section and value names of the program's settings.
namespace setting {
inline constexpr const char SET[] = "SET";
inline constexpr const char NET[] = "NET";
inline constexpr const char DBG[] = "DBG";
inline constexpr const char Interop[] = "Interop";
}  // namespace setting

}  // namespace core
