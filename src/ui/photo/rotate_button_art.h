// The photo wall's rotate button (numbered like the program's other
// artwork): a white clockwise arrow on a dark, half see-through disc.
#pragma once

#include <QImage>

namespace photo {

inline constexpr int kArtRotateButton = 184;
inline constexpr int kRotateButtonSize = 72;

// 72 x 72, ARGB32 premultiplied off (plain ARGB32).
QImage rotateButtonPicture();

}  // namespace photo
