// Translation of user-visible texts. Source texts are the program's Chinese
// texts; translation files are XML files under data/language/.
#pragma once

#include <string>

namespace support {

// Loads the translation table from the file; false when it cannot be read or
// parsed (the previous table is then kept).
bool loadLanguage(const std::string& path);
// Maps a language tag ("zh-CN", "en-US", "en", "zh-TW", ...) to the name used
// in translation file names.
std::string getCompatibleLanguageName(const std::string& tag);
// The translation of `text` in `context` (the module that shows it); untranslated
// texts come back unchanged.
std::string translate(const std::string& text, const std::string& context);

}  // namespace support
