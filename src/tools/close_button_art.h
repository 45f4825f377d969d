// The overlay's close button picture (numbered like the program's other
// artwork): a white cross on a red disc with a soft edge.
#pragma once

#include <QImage>

namespace tools {

inline constexpr int kArtOverlayClose = 168;

QImage closeButtonPicture();

}  // namespace tools
