#include "ui/widgets/button_style.h"

#include "support/logger.h"
#include "ui/widgets/artwork.h"

#include <json/reader.h>
#include <json/value.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <memory>

namespace ui::widgets {

namespace {

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    return value;
}

// A leading decimal number (as the C library reads it): 0 when there is none.
int leadingInt(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    return parseInt(text).value_or(0);
}

}  // namespace

std::optional<QColor> parseColour(const std::string& text) {
    if (text.size() != 7 && text.size() != 9) return std::nullopt;
    if (text[0] != '#') return std::nullopt;
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + 1, text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (text.size() == 7) return QColor::fromRgb(value | 0xFF000000u);
    return QColor::fromRgba(value);
}

QImage loadStylePicture(const std::string& name) {
    if (const int id = leadingInt(name); id != 0) return artworkPicture(id);
    QImage picture;
    if (!picture.load(QString::fromStdString(name))) {
        LOGOUT("button picture not loaded: %s", name.c_str());
        return {};
    }
    return picture;
}

bool applyStyle(const std::string& style, ButtonStateStyle& target, const QString& windowText) {
    std::string json = style;
    std::replace(json.begin(), json.end(), '\'', '"');
    Json::CharReaderBuilder builder;
    builder["stackLimit"] = 16;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    bool parsed = false;
    try {
        parsed = reader->parse(json.data(), json.data() + json.size(), &root, &errors);
    } catch (const std::exception&) {
        // The reader throws on input nested deeper than its stack limit.
        parsed = false;
    }
    if (!parsed || !root.isObject()) {
        LOGOUT("button style not understood: %s", style.c_str());
        return false;
    }
    // A member that is not a string is ignored like a missing one.
    auto text = [&root](const char* key) -> std::optional<std::string> {
        const Json::Value& v = root[key];
        if (!v.isString()) return std::nullopt;
        return v.asString();
    };

    if (auto background = text("background")) {
        if (!background->empty() && (*background)[0] == '#') {
            if (auto colour = parseColour(*background)) target.backColor = *colour;
        } else {
            target.backImage = loadStylePicture(*background);
        }
    }
    if (auto icon = text("icon")) target.icon = loadStylePicture(*icon);
    if (auto caption = text("text"))
        target.text = QString::fromStdString(*caption);
    else
        target.text = windowText;
    if (auto border = text("border")) {
        const size_t first = border->find(' ');
        if (auto colour = parseColour(border->substr(0, first))) target.borderColor = *colour;
        if (first != std::string::npos) {
            const size_t second = border->find(' ', first + 1);
            target.borderWidth = leadingInt(std::string_view(*border).substr(first + 1, second - first - 1));
            if (second != std::string::npos)
                target.borderRadius = leadingInt(std::string_view(*border).substr(second + 1));
        }
    }
    if (auto font = text("font")) {
        const size_t space = font->find(' ');
        target.fontFace = QString::fromStdString(font->substr(0, space));
        if (space != std::string::npos) {
            const int size = leadingInt(std::string_view(*font).substr(space + 1));
            if (size > 0) target.fontSize = size;
        }
    }
    if (auto colour = text("textColor")) {
        if (auto c = parseColour(*colour)) target.textColor = *c;
    }
    return true;
}

QImage greyCopy(const QImage& picture) {
    if (picture.isNull()) return {};
    QImage grey = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const QRgb p = line[x];
            const int v = std::min(255, static_cast<int>(0.3 * (qRed(p) + qGreen(p) + qBlue(p))));
            line[x] = qRgba(v, v, v, qAlpha(p));
        }
    }
    return grey;
}

}  // namespace ui::widgets
