#include "tools/tools_link.h"

#include "protocol/fields.h"

#include <chrono>

namespace tools {

void ToolsLink::sendState(const std::string& className, bool shown) const {
    Json::Value body(Json::objectValue);
    body[protocol::field::state] = shown ? 1 : 0;
    send(className, body);
}

bool ToolsLink::mirroring() const { return controllerTag && controllerTag() == "win_mira"; }

int64_t ToolsLink::now() const {
    if (nowMs) return nowMs();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QImage ToolsLink::takeScreenshot() const { return screenshot ? screenshot() : QImage(); }

}  // namespace tools
