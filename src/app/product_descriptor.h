// The product descriptor "qv.pd" beside the executable: a read-only INI file
// (UTF-8, section [info]) that selects the branded variant and supplies texts
// and links. A missing file or key reads as "" or the given default.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// "<program folder>/qv.pd"
std::string defaultDescriptorPath();

// The string of `key` in section [info]; at most 2047 characters, surrounding
// blanks and one pair of surrounding double quotes removed.
std::string readDescriptor(const std::string& path, const std::string& key);
// The leading decimal number of the value; `def` when the key is missing or
// holds no number.
int64_t readDescriptorInt(const std::string& path, const std::string& key, int64_t def);

// The shorter display name of a product name; other names come back unchanged,
// an empty name gives "Lumacro3".
std::string productDisplayName(const std::string& product);

struct ProductDescriptor {
    std::string tag;      // "Faroline" when empty
    std::string id;
    std::string product;  // as written in the file
    std::string web, help, comment, copyright, update;
    std::string androidUrl, iosUrl, apkUrl, winUrl;
    int64_t hideQR = 1;

    std::string displayName() const { return productDisplayName(product); }

    // Reads every key once (the file is read-only for the life of the program).
    static ProductDescriptor load(const std::string& path = defaultDescriptorPath());
};

inline constexpr const char kDefaultProductTag[] = "Faroline";

}  // namespace app
