#include "support/strings.h"

#include <cstdio>

#include <arpa/inet.h>

namespace support {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the character at `pos`. Returns the number of bytes it takes; an
// invalid byte takes one byte and decodes as U+FFFD.
size_t decodeUtf8(std::string_view s, size_t pos, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    cp = kReplacement;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t len = 0;
    char32_t value = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, value = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, value = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 1;
    }
    if (pos + len > s.size()) {
        return 1;
    }
    for (size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        const unsigned char min = i == 1 ? lo : 0x80;
        const unsigned char max = i == 1 ? hi : 0xBF;
        if (b < min || b > max) {
            return 1;
        }
        value = (value << 6) | (b & 0x3F);
    }
    cp = value;
    return len;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::u16string str2wstr(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp;
        pos += decodeUtf8(utf8, pos, cp);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string wstr2str(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() * 3);
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::string int2string(int64_t value) { return std::to_string(value); }

char int2char(int value) {
    if (value >= 0 && value <= 9) return static_cast<char>('0' + value);
    if (value >= 10 && value <= 15) return static_cast<char>('a' + value - 10);
    return '?';
}

std::vector<std::string> strSplit(std::string_view text, std::string_view separator) {
    std::vector<std::string> parts;
    if (separator.empty()) {
        parts.emplace_back(text);
        return parts;
    }
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string_view::npos;) {
        parts.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    parts.emplace_back(text.substr(start));
    return parts;
}

std::string strReplace(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t at; (at = text.find(from, start)) != std::string_view::npos;) {
        out.append(text.substr(start, at - start)).append(to);
        start = at + from.size();
    }
    out.append(text.substr(start));
    return out;
}

std::string toLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiLower(c);
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (asciiLower(text[i]) != asciiLower(prefix[i])) return false;
    }
    return true;
}

std::string ip2string(uint32_t addressNetworkOrder) {
    in_addr address{};
    address.s_addr = addressNetworkOrder;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

uint32_t string2ip(std::string_view dotted) {
    if (!isDottedIPv4(dotted)) {
        return 0;
    }
    in_addr address{};
    if (inet_pton(AF_INET, std::string(dotted).c_str(), &address) != 1) {
        return 0;
    }
    return address.s_addr;
}

// Exactly four decimal parts 0-255 without signs, blanks or leading zeros
// (a leading zero would read as octal to some parsers).
bool isDottedIPv4(std::string_view text) {
    int parts = 0;
    size_t pos = 0;
    while (true) {
        size_t digits = 0;
        int value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + (text[pos] - '0');
            ++pos, ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[pos - digits] == '0')) {
            return false;
        }
        ++parts;
        if (pos == text.size()) {
            return parts == 4;
        }
        if (text[pos] != '.' || parts == 4) {
            return false;
        }
        ++pos;
    }
}

std::string truncateUtf16Units(std::string_view utf8, size_t maxUnits) {
    size_t units = 0;
    size_t pos = 0;
    while (pos < utf8.size()) {
        char32_t cp;
        const size_t len = decodeUtf8(utf8, pos, cp);
        const size_t needed = cp >= 0x10000 ? 2 : 1;
        if (units + needed > maxUnits) {
            break;
        }
        units += needed;
        pos += len;
    }
    return std::string(utf8.substr(0, pos));
}

size_t utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp;
        pos += decodeUtf8(utf8, pos, cp);
        units += cp >= 0x10000 ? 2 : 1;
    }
    return units;
}

bool isValidUtf8(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        char32_t cp;
        const size_t len = decodeUtf8(text, pos, cp);
        if (cp == kReplacement && len == 1) {
            return false;
        }
        pos += len;
    }
    return true;
}

std::string printableText(std::string_view text, size_t maxBytes) {
    std::string out;
    for (unsigned char c : text.substr(0, maxBytes)) {
        if (c < 0x20 || c == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    if (text.size() > maxBytes) out += "...";
    return out;
}

}  // namespace support
