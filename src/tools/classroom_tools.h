// The classroom overlays as one group: made hidden at start-up, handed to
// the main hub's window slots and to the dispatcher's feature table.
#pragma once

#include "tools/tools_link.h"
#include "ui/main/hub_windows.h"

#include <memory>

namespace ui {
struct CommandContext;
}

namespace tools {

class BlackScreen;
class BrushWnd;
class MagniferWnd;
class SpotlightWnd;

class ClassroomTools {
public:
    explicit ClassroomTools(ToolsLink link);
    ~ClassroomTools();

    // Puts the overlays into the hub's slots.
    void fill(ui::HubWindows& windows);
    // Gives the dispatcher the features the overlays implement, and takes
    // them back before the overlays go.
    void fill(ui::CommandContext& context);
    void clear(ui::CommandContext& context);

    BrushWnd* annotation() { return brush_.get(); }
    BlackScreen* blackScreen() { return black_.get(); }
    SpotlightWnd* spotlight() { return spot_.get(); }
    MagniferWnd* magnifier() { return glass_.get(); }

private:
    ToolsLink link_;
    std::unique_ptr<BrushWnd> brush_;
    std::unique_ptr<BlackScreen> black_;
    std::unique_ptr<SpotlightWnd> spot_;
    std::unique_ptr<MagniferWnd> glass_;
};

}  // namespace tools
