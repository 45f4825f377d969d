// The look of one state of a styled button and the style strings that set
// it: single-quoted JSON such as "{'background': '#4c81d1', 'icon': '177'}".
#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <optional>
#include <string>

namespace ui::widgets {

struct ButtonStateStyle {
    QString text;  // empty: the button's own text
    QString fontFace = QStringLiteral("Arial");
    int fontSize = 10;  // points
    QColor backColor;   // the palette's button colour unless a style sets it
    QColor textColor = QColor(0, 0, 0);
    QImage backImage;   // stretched over the button when set
    QImage icon;
    QColor borderColor = QColor(0, 0, 0);
    int borderWidth = -1;  // < 0: 3-D edge on hover and press; 0: none; > 0: outline
    int borderRadius = 0;
};

// "#RRGGBB" (opaque) or "#AARRGGBB"; nothing for any other text.
std::optional<QColor> parseColour(const std::string& text);

// A picture named by a style: a number other than 0 is one of the program's
// own pictures (see artwork.h), anything else a file path. A null image when
// it cannot be loaded.
QImage loadStylePicture(const std::string& name);

// Applies a style string to `target`: single quotes become double quotes and
// the result is read as JSON. Only the keys present change the target, but
// a missing "text" sets the caption to `windowText`. Text that is not a JSON
// object changes nothing and gives false.
bool applyStyle(const std::string& style, ButtonStateStyle& target, const QString& windowText);

// Grey copy of a picture: each colour channel becomes 0.3 * (R + G + B),
// alpha is kept.
QImage greyCopy(const QImage& picture);

}  // namespace ui::widgets
