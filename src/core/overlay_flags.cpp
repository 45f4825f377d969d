#include "core/overlay_flags.h"

namespace core {

OverlayFlags& overlayFlags() {
    static OverlayFlags flags;
    return flags;
}

}  // namespace core
