// The branded variants of the connect window, chosen by the product id.
#pragma once

#include <cstdint>
#include <string>

namespace ui::welcome {

struct ConnectVariant {
    uint32_t colour = 0xFF4C81D1;  // title band and button background, ARGB
    bool mirroringButton = false;  // shows the screen-mirroring button
    bool connectionNumber = false; // shows the connection-number line
};

// Product ids of the variants (anything else is the default variant).
inline constexpr const char kEmberProductId[] = "qv-ember";   // #e95513
inline constexpr const char kLeafProductId[] = "qv-leaf";     // #59a833
inline constexpr const char kCoralProductId[] = "qv-coral";   // #fe7146, mirroring button
inline constexpr const char kNumberProductIdA[] = "qv-hk";    // connection number
inline constexpr const char kNumberProductIdB[] = "qv-tw";    // connection number

ConnectVariant connectVariant(const std::string& productId);

}  // namespace ui::welcome
