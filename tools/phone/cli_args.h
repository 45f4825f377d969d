// Command-line parsing for lumacro3-phone: "--name value", "--name=value",
// flags, and positional words. Kept deliberately small.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace phone::cli {

// Thrown for bad command lines; the tool prints the text and exits with 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Option {
    std::string name;       // without the leading "--"
    std::string valueName;  // empty for a flag
    std::string help;
    bool isFlag() const { return valueName.empty(); }
};

class ParsedArgs {
public:
    // Parses `words` against `known`. "--help" is always accepted as a flag;
    // "--" ends the options. Throws UsageError.
    static ParsedArgs parse(const std::vector<std::string>& words,
                            const std::vector<Option>& known);

    bool has(const std::string& name) const;
    bool flag(const std::string& name) const { return flags_.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
    std::string value(const std::string& name, const std::string& fallback) const;
    // Numeric values; a value that is not a number in [min, max] is a UsageError.
    std::optional<long> integer(const std::string& name, long min, long max) const;
    std::optional<double> number(const std::string& name, double min, double max) const;
    const std::vector<std::string>& positional() const { return positional_; }

private:
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::vector<std::string> positional_;
};

// "  --name VALUE   help" lines for a usage text.
std::string describeOptions(const std::vector<Option>& known);

}  // namespace phone::cli
