#include "core/settings.h"

namespace core {

std::string MemorySettings::profileKey(const std::string& section) {
    return "Quorvel\\Lumacro3\\" + section;
}

int64_t MemorySettings::getInt(const std::string& section, const std::string& name, int64_t def) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& values = ints_[profileKey(section)];
    auto it = values.find(name);
    return it == values.end() ? def : it->second;
}

std::string MemorySettings::getString(const std::string& section, const std::string& name,
                                      const std::string& def) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& values = strings_[profileKey(section)];
    auto it = values.find(name);
    return it == values.end() ? def : it->second;
}

bool MemorySettings::setInt(const std::string& section, const std::string& name, int64_t value) {
    return setKeyInt(profileKey(section), name, value);
}

bool MemorySettings::setString(const std::string& section, const std::string& name,
                               const std::string& value) {
    return setKeyString(profileKey(section), name, value);
}

int64_t MemorySettings::getKeyInt(const std::string& keyPath, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& values = ints_[keyPath];
    auto it = values.find(name);
    return it == values.end() ? 0 : it->second;
}

std::string MemorySettings::getKeyString(const std::string& keyPath, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& values = strings_[keyPath];
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
}

bool MemorySettings::setKeyInt(const std::string& keyPath, const std::string& name, int64_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    ints_[keyPath][name] = value;
    return true;
}

bool MemorySettings::setKeyString(const std::string& keyPath, const std::string& name,
                                  const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    strings_[keyPath][name] = value;
    return true;
}

}  // namespace core
