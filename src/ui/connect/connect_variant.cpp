#include "ui/connect/connect_variant.h"

namespace ui::welcome {

ConnectVariant connectVariant(const std::string& id) {
    ConnectVariant v;
    if (id == kEmberProductId) {
        v.colour = 0xFFE95513;
    } else if (id == kLeafProductId) {
        v.colour = 0xFF59A833;
    } else if (id == kCoralProductId) {
        v.colour = 0xFFFE7146;
        v.mirroringButton = true;
    } else if (id == kNumberProductIdA || id == kNumberProductIdB) {
        v.connectionNumber = true;
    }
    return v;
}

}  // namespace ui::welcome
