#include "tools/classroom_tools.h"

#include "ui/main/command_context.h"
#include "tools/black_screen.h"
#include "tools/brush_wnd.h"
#include "tools/magnifier_wnd.h"
#include "tools/spotlight_wnd.h"

namespace tools {

ClassroomTools::ClassroomTools(ToolsLink link) : link_(std::move(link)) {
    brush_ = std::make_unique<BrushWnd>(link_);
    black_ = std::make_unique<BlackScreen>(link_);
    spot_ = std::make_unique<SpotlightWnd>(link_);
    glass_ = std::make_unique<MagniferWnd>(link_);
}

ClassroomTools::~ClassroomTools() = default;

void ClassroomTools::fill(ui::HubWindows& windows) {
    windows.annotation = brush_.get();
    windows.blackScreen = black_.get();
    windows.spotlight = spot_.get();
    windows.magnifier = glass_.get();
}

void ClassroomTools::fill(ui::CommandContext& context) {
    BlackScreen* black = black_.get();
    context.blackScreen = [black](int64_t action, int64_t) { black->run(action); };
    context.features.magnifier = glass_.get();
}

void ClassroomTools::clear(ui::CommandContext& context) {
    context.blackScreen = nullptr;
    context.features.magnifier = nullptr;
}

}  // namespace tools
