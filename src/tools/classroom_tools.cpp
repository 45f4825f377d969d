#include "tools/classroom_tools.h"

#include "ui/main/command_context.h"
#include "tools/brush_wnd.h"

namespace tools {

ClassroomTools::ClassroomTools(ToolsLink link) : link_(std::move(link)) {
    brush_ = std::make_unique<BrushWnd>(link_);
}

ClassroomTools::~ClassroomTools() = default;

void ClassroomTools::fill(ui::HubWindows& windows) { windows.annotation = brush_.get(); }

void ClassroomTools::fill(ui::CommandContext&) {}

void ClassroomTools::clear(ui::CommandContext&) {}

}  // namespace tools
