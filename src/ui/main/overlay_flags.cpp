#include "ui/main/overlay_flags.h"

namespace ui {

OverlayFlags& overlayFlags() {
    static OverlayFlags flags;
    return flags;
}

}  // namespace ui
