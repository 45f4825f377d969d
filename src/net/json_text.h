// Compact JSON text as it travels on the wire: no blanks, members in ascending
// key order, UTF-8 kept as it is, one line feed at the end.
#pragma once

#include <json/value.h>
#include <string>
#include <string_view>

namespace net {

std::string writeCompact(const Json::Value& value);
// Parses JSON text; false (and `out` null) when it is not valid JSON, nests
// too deeply or otherwise makes the parser fail. Never throws.
bool parseJson(std::string_view text, Json::Value& out);

}  // namespace net
