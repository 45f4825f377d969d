#include "app/product_descriptor.h"

#include "support/files.h"
#include "support/strings.h"

#include <utility>

namespace app {

namespace {

constexpr size_t kMaxValueUnits = 2047;  // what the descriptor's readers ever took

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

// Value of key in [info]; false when absent.
bool lookup(const std::string& path, const std::string& key, std::string& value) {
    std::string text;
    if (key.empty() || !support::readFile(path, text))
        return false;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    const std::string wanted = support::toLower(key);
    bool inInfo = false, found = false;
    for (const std::string& raw : support::strSplit(text, "\n")) {
        std::string line = trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            inInfo = close != std::string::npos && support::toLower(trim(line.substr(1, close - 1))) == "info";
            continue;
        }
        size_t eq = line.find('=');
        if (!inInfo || eq == std::string::npos || support::toLower(trim(line.substr(0, eq))) != wanted)
            continue;
        value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        found = true;
        break;  // the first line of a key counts
    }
    if (found && !support::isValidUtf8(value))
        value = support::wstr2str(support::str2wstr(value));  // damaged bytes become U+FFFD
    if (found)
        value = support::truncateUtf16Units(value, kMaxValueUnits);
    return found;
}

// Long product names of the family and the shorter names shown in titles and the tray.
constexpr std::pair<const char*, const char*> kDisplayNames[] = {
    {"Lumacro3 Wireless Presentation System", "Lumacro3"},
    {"Lumacro3 Smart Classroom Presenter", "Lumacro3"},
    {"Faroline Smart Classroom Teacher Assistant", "Faroline"},
    {"Faroline Wireless Classroom Presenter", "Faroline"},
};

}  // namespace

std::string defaultDescriptorPath() {
    return support::getAppDir() + "/qv.pd";
}

std::string readDescriptor(const std::string& path, const std::string& key) {
    std::string value;
    return lookup(path, key, value) ? value : std::string();
}

int64_t readDescriptorInt(const std::string& path, const std::string& key, int64_t def) {
    std::string value;
    if (!lookup(path, key, value))
        return def;
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+'))
        negative = value[i++] == '-';
    if (i >= value.size() || value[i] < '0' || value[i] > '9')
        return def;
    int64_t n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9' && n < (int64_t(1) << 40); ++i)
        n = n * 10 + (value[i] - '0');
    return negative ? -n : n;
}

std::string productDisplayName(const std::string& product) {
    if (product.empty())
        return "Lumacro3";
    for (const auto& [longName, shortName] : kDisplayNames)
        if (support::toLower(product) == support::toLower(longName))
            return shortName;
    return product;
}

ProductDescriptor ProductDescriptor::load(const std::string& path) {
    ProductDescriptor d;
    d.tag = readDescriptor(path, "tag");
    if (d.tag.empty())
        d.tag = kDefaultProductTag;
    d.id = readDescriptor(path, "id");
    d.product = readDescriptor(path, "product");
    d.web = readDescriptor(path, "web");
    d.help = readDescriptor(path, "help");
    d.comment = readDescriptor(path, "comment");
    d.copyright = readDescriptor(path, "copyright");
    d.update = readDescriptor(path, "update");
    d.androidUrl = readDescriptor(path, "androidUrl");
    d.iosUrl = readDescriptor(path, "iosUrl");
    d.apkUrl = readDescriptor(path, "apkUrl");
    d.winUrl = readDescriptor(path, "winUrl");
    d.hideQR = readDescriptorInt(path, "hideQR", 1);
    return d;
}

}  // namespace app
