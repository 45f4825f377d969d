// Files from the phones, URLs, and hand-overs to related programs.
#include "core/settings.h"
#include "net/json_text.h"
#include "protocol/fields.h"
#include "support/logger.h"
#include "support/strings.h"
#include "ui/main/dispatch_handlers.h"

namespace ui::dispatch {

namespace field = protocol::field;

namespace {

bool isAddressChar(char c) {
    return (c >= '0' && c <= '9') || c == '.';
}

}  // namespace

bool urlNamesAddress(std::string_view url, std::string_view dotted) {
    if (dotted.empty())
        return false;
    for (size_t at = url.find(dotted); at != std::string_view::npos;
         at = url.find(dotted, at + 1)) {
        const size_t end = at + dotted.size();
        const bool startsClean = at == 0 || !isAddressChar(url[at - 1]);
        const bool endsClean = end == url.size() || !isAddressChar(url[end]);
        if (startsClean && endsClean)
            return true;
    }
    return false;
}

void handleFile(const Request& request) {
    const Json::Value& m = request.message;
    const int action = m[field::action].asInt();
    if (action < 0 || action > 4)
        return;
    if (action == 4) {
        // The effect applies to the file that this query may open.
        const int anim = m[field::anim].asInt();
        if (request.context.features.drawingBoard)
            request.context.features.drawingBoard->setAnime(anim);
        else
            unavailable("drawing board", request);
    }
    withFeature(request.context.features.files, "file receiver", request, [&](auto& files) {
        files.fileMessage(request.socket, action, m, request.data, request.dataLength);
    });
}

void handleOpenUrl(const Request& request) {
    const Json::Value& m = request.message;
    const int resType = m[field::resType].asInt();
    if (resType == 2) {
        post(request, core::UM_PLAY_URL, 0, 0, core::makeTextBlock(m[field::url].asString(), core::kUrlBlockUnits));
        return;
    }
    if (resType != 0 && resType != 1)
        return;

    const std::string url = m[field::url].asString();
    const int anim = m[field::anim].asInt();
    core::FileReceiver* files = request.context.features.files;
    if (!files)
        return unavailable("file receiver", request);
    // A URL of this PC's own HTTP server names a file already in the document folder.
    const uint32_t bound = request.context.server ? request.context.server->boundAddress() : 0;
    const bool local = bound != 0 && urlNamesAddress(url, support::ip2string(bound));
    files->openUrl(url, anim, local);
}

void handlePexloAutoLogin(const Request& request) {
    CommandContext& context = request.context;
    if (!context.settings)
        return unavailable("settings", request);
    std::string text = net::writeCompact(request.message);
    // One line of JSON text; the line feed of the wire form is not stored.
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    context.settings->setKeyString(kClassroomKeyPath, kPexloStartup, text);

    const int64_t window = context.settings->getInt(core::setting::Interop, kClassroomWindow, 0);
    if (window == 0)
        return;
    if (!context.features.integration)
        return unavailable("integration", request);
    context.features.integration->postToWindow(window, core::kClassroomServerLoginMessage, 0, 0);
}

void handleOpenEbook(const Request& request) {
    if (!request.context.features.integration)
        return unavailable("integration", request);
    request.context.features.integration->openEbook();
}

void handleMiracastDisplay(const Request& request) {
    if (!request.context.features.integration)
        return unavailable("integration", request);
    request.context.features.integration->miracastDisplay();
}

}  // namespace ui::dispatch
