// The program's own pictures, drawn in code and addressed by number like
// resources: the numbers that style strings and windows name.
#pragma once

#include <QImage>

namespace ui::widgets {

enum ArtworkId : int {
    kArtCloseIcon = 173,     // white cross: hide the window
    kArtDeviceIcon = 174,    // grey monitor before the device name
    kArtHelpIcon = 175,      // white question mark in a ring
    kArtLogo = 176,          // white logo mark for a coloured title band
    kArtSettingsIcon = 177,  // white gear
    kArtMirrorIcon = 191,    // white screen with cast waves
};

// The picture with that number, or a null image for an unknown number.
QImage artworkPicture(int id);

// Grey Wi-Fi waves struck through: shown where the QR code would be when the
// PC has no network.
QImage noNetworkPicture();

}  // namespace ui::widgets
