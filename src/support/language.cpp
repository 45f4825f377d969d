#include "support/language.h"

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <sys/stat.h>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/files.h"
#include "support/strings.h"

namespace support {

namespace {

using Table = std::unordered_map<std::string, std::unordered_map<std::string, std::string>>;

std::shared_mutex gTableMutex;
Table gTable;  // context -> source text -> translation

constexpr size_t kMaxFileSize = 16 * 1024 * 1024;
constexpr int kMaxDepth = 32;

struct Node {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;  // character data directly inside the element
    std::vector<Node> children;

    const std::string* attribute(std::string_view key) const {
        for (const auto& [name, value] : attributes) {
            if (name == key) return &value;
        }
        return nullptr;
    }
    const Node* child(std::string_view key) const {
        for (const auto& node : children) {
            if (node.name == key) return &node;
        }
        return nullptr;
    }
};

// A small XML reader for the translation files: elements, attributes, the
// predefined and numeric entities, comments, CDATA and processing
// instructions. Document type declarations are refused. Every read is bounds
// checked; anything malformed makes parse() return false.
class XmlReader {
public:
    explicit XmlReader(std::string_view input) : in_(input) {}

    bool parse(Node& root) {
        if (startsWith("\xEF\xBB\xBF")) pos_ += 3;
        if (!skipMisc() || !startsWith("<") || startsWith("<!") || !parseElement(root, 0)) {
            return false;
        }
        return skipMisc() && pos_ == in_.size();
    }

private:
    bool startsWith(std::string_view s) const { return in_.substr(pos_).starts_with(s); }
    bool atEnd() const { return pos_ >= in_.size(); }

    bool skipPast(std::string_view end) {
        const size_t at = in_.find(end, pos_);
        if (at == std::string_view::npos) return false;
        pos_ = at + end.size();
        return true;
    }

    bool skipBlanks() {
        const size_t start = pos_;
        while (!atEnd() && (in_[pos_] == ' ' || in_[pos_] == '\t' || in_[pos_] == '\r' || in_[pos_] == '\n')) {
            ++pos_;
        }
        return pos_ > start;
    }

    // Blanks, comments and processing instructions between elements.
    bool skipMisc() {
        while (true) {
            skipBlanks();
            if (startsWith("<?")) {
                if (!skipPast("?>")) return false;
            } else if (startsWith("<!--")) {
                if (!skipPast("-->")) return false;
            } else {
                return true;
            }
        }
    }

    static bool isNameChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
    }

    bool parseName(std::string& name) {
        const size_t start = pos_;
        while (!atEnd() && isNameChar(in_[pos_])) ++pos_;
        name.assign(in_.substr(start, pos_ - start));
        return !name.empty() && !(name[0] >= '0' && name[0] <= '9') && name[0] != '-' && name[0] != '.';
    }

    static bool appendCodePoint(std::string& out, unsigned long cp) {
        const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                             (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
        if (!allowed) return false;
        std::u16string units;
        if (cp >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(cp));
        }
        out += wstr2str(units);
        return true;
    }

    // At '&': appends the character the reference stands for.
    bool parseReference(std::string& out) {
        const size_t semicolon = in_.find(';', pos_);
        if (semicolon == std::string_view::npos || semicolon - pos_ > 12) return false;
        const std::string_view ref = in_.substr(pos_ + 1, semicolon - pos_ - 1);
        pos_ = semicolon + 1;
        static const std::pair<std::string_view, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& [name, c] : kNamed) {
            if (ref == name) {
                out.push_back(c);
                return true;
            }
        }
        if (ref.size() < 2 || ref[0] != '#') return false;
        const bool hex = ref[1] == 'x';
        const std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty()) return false;
        unsigned long cp = 0;
        for (const char c : digits) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return false;
            cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(d);
            if (cp > 0x10FFFF) return false;
        }
        return appendCodePoint(out, cp);
    }

    bool parseAttributeValue(std::string& value) {
        if (atEnd() || (in_[pos_] != '"' && in_[pos_] != '\'')) return false;
        const char quote = in_[pos_++];
        while (!atEnd() && in_[pos_] != quote) {
            if (in_[pos_] == '<') return false;
            if (in_[pos_] == '&') {
                if (!parseReference(value)) return false;
            } else {
                value.push_back(in_[pos_++]);
            }
        }
        if (atEnd()) return false;
        ++pos_;
        return true;
    }

    // At '<' of a start tag.
    bool parseElement(Node& node, int depth) {
        if (depth > kMaxDepth) return false;
        ++pos_;
        if (!parseName(node.name)) return false;
        while (true) {
            const bool blank = skipBlanks();
            if (startsWith("/>")) {
                pos_ += 2;
                return true;
            }
            if (startsWith(">")) {
                ++pos_;
                break;
            }
            std::string key, value;
            if (!blank || !parseName(key)) return false;
            skipBlanks();
            if (!startsWith("=")) return false;
            ++pos_;
            skipBlanks();
            if (!parseAttributeValue(value) || node.attribute(key) != nullptr) return false;
            node.attributes.emplace_back(std::move(key), std::move(value));
        }
        return parseContent(node, depth);
    }

    // Everything up to and including the end tag of `node`.
    bool parseContent(Node& node, int depth) {
        while (!atEnd()) {
            if (startsWith("</")) {
                pos_ += 2;
                std::string name;
                if (!parseName(name) || name != node.name) return false;
                skipBlanks();
                if (!startsWith(">")) return false;
                ++pos_;
                return true;
            }
            if (startsWith("<!--")) {
                if (!skipPast("-->")) return false;
            } else if (startsWith("<![CDATA[")) {
                const size_t start = pos_ + 9;
                if (!skipPast("]]>")) return false;
                node.text.append(in_.substr(start, pos_ - 3 - start));
            } else if (startsWith("<?")) {
                if (!skipPast("?>")) return false;
            } else if (startsWith("<!")) {
                return false;
            } else if (startsWith("<")) {
                node.children.emplace_back();
                if (!parseElement(node.children.back(), depth + 1)) return false;
            } else if (startsWith("&")) {
                if (!parseReference(node.text)) return false;
            } else {
                size_t end = in_.find_first_of("<&", pos_);
                if (end == std::string_view::npos) end = in_.size();
                node.text.append(in_.substr(pos_, end - pos_));
                pos_ = end;
            }
        }
        return false;  // no end tag
    }

    std::string_view in_;
    size_t pos_ = 0;
};

bool buildTable(const Node& root, Table& table) {
    if (root.name != "language") return false;
    for (const Node& context : root.children) {
        if (context.name != "context") continue;
        const std::string* contextName = context.attribute("name");
        if (contextName == nullptr) return false;
        auto& messages = table[*contextName];
        for (const Node& message : context.children) {
            if (message.name != "message") continue;
            const Node* source = message.child("source");
            const Node* translation = message.child("translation");
            // An empty translation means "not translated yet".
            if (source != nullptr && translation != nullptr && !translation->text.empty()) {
                messages[source->text] = translation->text;
            }
        }
    }
    return true;
}

}  // namespace

bool loadLanguage(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
        return false;
    }
    std::string content;
    if (!readFile(path, content) || content.size() > kMaxFileSize || !isValidUtf8(content)) {
        return false;
    }
    Node root;
    Table table;
    if (!XmlReader(content).parse(root) || !buildTable(root, table)) {
        return false;
    }
    std::unique_lock lock(gTableMutex);
    gTable.swap(table);
    return true;
}

std::string getCompatibleLanguageName(const std::string& tag) {
    // The program ships Chinese (its source texts) and English. Every Chinese
    // variant (zh, zh-TW, zh-Hans, ChineseTraditional, ...) and anything
    // unknown uses Chinese; any English variant uses en-US.
    const std::string normal = strReplace(toLower(tag), "_", "-");
    return normal.starts_with("en") ? "en-US" : "zh-CN";
}

std::string translate(const std::string& text, const std::string& context) {
    std::shared_lock lock(gTableMutex);
    if (const auto messages = gTable.find(context); messages != gTable.end()) {
        if (const auto found = messages->second.find(text); found != messages->second.end()) {
            return found->second;
        }
    }
    return text;
}

}  // namespace support
