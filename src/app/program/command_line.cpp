#include "app/program/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace app {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::vector<std::string> interpretCommandLine(const std::vector<std::string>& argv) {
    if (argv.size() != 2) return argv;
    const std::string& argument = argv[1];
    const size_t prefixLength = std::strlen(kProtocolPrefix);
    if (argument.size() < prefixLength ||
        lower(argument.substr(0, prefixLength)) != lower(kProtocolPrefix))
        return argv;
    std::vector<std::string> parts = split(argument, ',');
    if (parts.size() == 1) parts = split(argument, ' ');
    std::vector<std::string> result{argv[0], lower(parts[0].substr(prefixLength))};
    result.insert(result.end(), parts.begin() + 1, parts.end());
    return result;
}

bool asksToQuit(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 && arguments[1].find("quit") != std::string::npos;
}

}  // namespace app
