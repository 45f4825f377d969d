// String, number and address helpers. Text is UTF-8 inside the program;
// UTF-16 is only used where a length is counted in UTF-16 units.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace support {

std::u16string str2wstr(std::string_view utf8);      // invalid bytes become U+FFFD
std::string wstr2str(std::u16string_view utf16);     // lone surrogates become U+FFFD

std::string int2string(int64_t value);
char int2char(int value);  // hex digit of 0..15 ('0'-'9', 'a'-'f'); '?' otherwise

// Splits at every occurrence of `separator` (an empty separator gives the whole text).
std::vector<std::string> strSplit(std::string_view text, std::string_view separator);
std::string strReplace(std::string_view text, std::string_view from, std::string_view to);
std::string toLower(std::string_view text);  // ASCII only
// Text from the network as a log line may show it: control bytes escaped as
// \xNN, cut after `maxBytes` with "..." added.
std::string printableText(std::string_view text, size_t maxBytes);
bool startsWithNoCase(std::string_view text, std::string_view prefix);  // ASCII case

// Dotted text of an IPv4 address in network byte order, and the reverse
// (0 when the text is not a dotted IPv4 address).
std::string ip2string(uint32_t addressNetworkOrder);
uint32_t string2ip(std::string_view dotted);
bool isDottedIPv4(std::string_view text);

// Cuts UTF-8 text so that it holds at most `maxUnits` UTF-16 code units,
// always at a character boundary (a pair of surrogates counts as two units).
std::string truncateUtf16Units(std::string_view utf8, size_t maxUnits);
size_t utf16Length(std::string_view utf8);
// True when the text is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool isValidUtf8(std::string_view text);

}  // namespace support
