#include "phone/cli_args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace phone::cli {

namespace {

const Option* findOption(const std::vector<Option>& known, const std::string& name) {
    for (const auto& option : known)
        if (option.name == name) return &option;
    return nullptr;
}

}  // namespace

ParsedArgs ParsedArgs::parse(const std::vector<std::string>& words,
                             const std::vector<Option>& known) {
    ParsedArgs args;
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 3 || word.compare(0, 2, "--") != 0) {
            if (word == "--") {
                optionsEnded = true;
                continue;
            }
            args.positional_.push_back(word);
            continue;
        }
        std::string name = word.substr(2);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "help" && !inlineValue) {
            args.flags_.insert(name);
            continue;
        }
        const Option* option = findOption(known, name);
        if (!option) throw UsageError("unknown option --" + name);
        if (option->isFlag()) {
            if (inlineValue) throw UsageError("option --" + name + " takes no value");
            args.flags_.insert(name);
            continue;
        }
        if (inlineValue) {
            args.values_[name] = *inlineValue;
        } else {
            if (i + 1 >= words.size()) throw UsageError("option --" + name + " needs " + option->valueName);
            args.values_[name] = words[++i];
        }
    }
    return args;
}

bool ParsedArgs::has(const std::string& name) const {
    return flags_.count(name) != 0 || values_.count(name) != 0;
}

std::optional<std::string> ParsedArgs::value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::string ParsedArgs::value(const std::string& name, const std::string& fallback) const {
    return value(name).value_or(fallback);
}

std::optional<long> ParsedArgs::integer(const std::string& name, long min, long max) const {
    auto text = value(name);
    if (!text) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || errno != 0 || v < min || v > max)
        throw UsageError("--" + name + " needs a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not \"" + *text + "\"");
    return v;
}

std::optional<double> ParsedArgs::number(const std::string& name, double min, double max) const {
    auto text = value(name);
    if (!text) return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || !std::isfinite(v) || v < min || v > max)
        throw UsageError("--" + name + " needs a number, not \"" + *text + "\"");
    return v;
}

std::string describeOptions(const std::vector<Option>& known) {
    std::string text;
    for (const auto& option : known) {
        std::string left = "  --" + option.name + (option.isFlag() ? "" : " " + option.valueName);
        if (left.size() < 24) left.resize(24, ' ');
        else left += "  ";
        text += left + option.help + "\n";
    }
    return text;
}

}  // namespace phone::cli
