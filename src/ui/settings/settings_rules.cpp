#include "ui/settings/settings_rules.h"

#include <algorithm>
#include <climits>

namespace ui::settings {

int frameRateEntry(long long v) {
    if (v < 10) return 0;
    if (v < 15) return 1;
    if (v < 20) return 2;
    if (v < 25) return 3;
    return 4;
}

int frameRateFromEntry(int entry) { return entry == 4 ? 40 : entry * 5 + 5; }

int clampBrushSize(long long size) { return static_cast<int>(std::clamp<long long>(size, 1, 64)); }

int brushSizeFromText(const std::string& text) {
    // Leading blanks, an optional sign and digits, as atoi reads them; the
    // value saturates instead of overflowing.
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), 1000000);
    return clampBrushSize(negative ? -value : value);
}

int clampQuality(long long quality) { return static_cast<int>(std::clamp<long long>(quality, 0, 2)); }
int clampRecordQuality(long long quality) { return static_cast<int>(std::clamp<long long>(quality, 0, 3)); }

int recordFrameRateEntry(long long v) {
    if (v < 10) return 0;
    if (v >= 30) return 5;
    return static_cast<int>(v / 5) - 1;
}

int recordFrameRateFromEntry(int entry) { return entry * 5 + 5; }

int cursorEntry(long long v) {
    if (v < 1) return 0;
    if (v > 9) return -1;
    return static_cast<int>(v);
}

std::vector<LanguageEntry> languageEntries(const std::string& id) {
    if (id == kHongKongProductId || id == kTaiwanProductId)
        return {{"繁體中文", "zh-TW"}, {"English", "en-US"}};
    if (id == kGlobalProductId) return {{"English", "en-US"}};
    if (id == kEuropeProductId || id == kRussiaProductId || id == kSilkRoadProductId)
        return {{"简体中文", "zh-CN"}, {"English", "en-US"},  {"Français", "fr-FR"},
                {"Deutsch", "de-DE"},  {"русский язык", "ru-RU"}, {"Español", "es-ES"},
                {"繁體中文", "zh-TW"}, {"ئۇيغۇرچە", "ar"}};
    return {{"简体中文", "zh-CN"}, {"English", "en-US"}};
}

int languageEntry(const std::vector<LanguageEntry>& entries, const std::string& code) {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].code == code) return static_cast<int>(i);
    return 0;
}

namespace {

// The leading decimal number of a part as atoi reads it, saturated so that
// an absurd version text cannot overflow.
long long versionPart(const std::string& text, size_t from) {
    size_t i = from;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), INT_MAX);
    return negative ? -value : value;
}

int difference(long long remote, long long local) {
    return static_cast<int>(std::clamp<long long>(remote - local, INT_MIN, INT_MAX));
}

}  // namespace

int compareVersions(const std::string& local, const std::string& remote) {
    size_t l = 0, r = 0;
    for (;;) {
        const size_t remoteDot = remote.find('.', r);
        const size_t localDot = local.find('.', l);
        if (remoteDot == std::string::npos) {
            if (localDot != std::string::npos) return -1;
            return difference(versionPart(remote, r), versionPart(local, l));
        }
        if (localDot == std::string::npos) return 1;
        const long long a = versionPart(local, l), b = versionPart(remote, r);
        if (a != b) return difference(b, a);
        l = localDot + 1;
        r = remoteDot + 1;
    }
}

std::string installerUrl(const std::string& dir, const std::string& productId,
                         const std::string& versionName) {
    std::string url = dir;
    if (url.empty() || url.back() != '/') url += '/';
    return url + productId + "_v" + versionName + ".deb";
}

}  // namespace ui::settings
