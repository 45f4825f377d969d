// The value rules of the settings pages, apart from the widgets: which list
// entry shows a stored value, what an entry stores, the clamps, the language
// lists of the product variants, and the version comparison of the update
// check.
#pragma once

#include <string>
#include <vector>

namespace ui::settings {

// Live-stream frame rate list: "5", "10", "15", "20 (recommended)", "MAX".
inline constexpr int kFrameRateEntries = 5;
int frameRateEntry(long long storedRate);
int frameRateFromEntry(int entry);  // "MAX" stores 40

// Annotation pen width: shown and stored within 1..64; a text that reads as
// 0 or less (or as no number) is 1.
inline constexpr int kDefaultBrushSize = 8;
int clampBrushSize(long long size);
int brushSizeFromText(const std::string& text);

int clampQuality(long long quality);        // 0..2
int clampRecordQuality(long long quality);  // 0..3

// Recording frame rate list: 5, 10, ..., 30.
inline constexpr int kRecordFrameRateEntries = 6;
int recordFrameRateEntry(long long storedRate);
int recordFrameRateFromEntry(int entry);

// Cursor list: entries 0..9 are schemes 0..9; values below 1 show the first
// entry, values above 9 none (-1).
inline constexpr int kCursorEntries = 10;
int cursorEntry(long long storedScheme);

struct LanguageEntry {
    std::string label;  // shown as it stands, in its own language
    std::string code;
};
// The language list of a product variant (descriptor id).
std::vector<LanguageEntry> languageEntries(const std::string& productId);
// The entry whose code is `code`, else 0.
int languageEntry(const std::vector<LanguageEntry>& entries, const std::string& code);

// Product ids of the variants that change the settings pages.
inline constexpr const char kGlobalProductId[] = "qv-global";  // no Simplified Chinese entry
inline constexpr const char kHongKongProductId[] = "qv-hk";    // Traditional Chinese
inline constexpr const char kTaiwanProductId[] = "qv-tw";      // Traditional Chinese
inline constexpr const char kEuropeProductId[] = "qv-eu";      // more languages
inline constexpr const char kRussiaProductId[] = "qv-ru";      // more languages
inline constexpr const char kSilkRoadProductId[] = "qv-sr";    // more languages
inline constexpr const char kLectureProductId[] = "qv-lecture";  // video/text quality names

// Compares dotted versions; > 0 when `remote` is newer. Parts are read as
// atoi reads them and compared from the left while both texts still have a
// '.' after the part; when one runs out of dots first, the one with more
// parts wins (1 or -1) without comparing that part; the last parts of two
// texts of the same length are compared.
int compareVersions(const std::string& local, const std::string& remote);

// "<dir>/<id>_v<version>.deb" ("/" added only when dir lacks it).
std::string installerUrl(const std::string& dir, const std::string& productId,
                         const std::string& versionName);

// "http://<address>:27272/..." etc. use the helper web server's port.
inline constexpr int kHelperHttpPort = 27272;

}  // namespace ui::settings
