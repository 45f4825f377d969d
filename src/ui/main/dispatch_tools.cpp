// Classroom tools: annotation, spotlight, magnifier, drawing board, slide
// show, screenshot, photo wall, black-out screen and PC camera.
#include "protocol/fields.h"
#include "support/clock.h"
#include "support/files.h"
#include "support/logger.h"
#include "ui/main/dispatch_handlers.h"

#include <vector>

namespace ui::dispatch {

namespace field = protocol::field;

namespace {

// A request less than this many ms after the last accepted attach is dropped.
constexpr int64_t kPptAttachIntervalMs = 1001;

}  // namespace

void handleBrush(const Request& request) {
    const Json::Value& m = request.message;
    switch (m[field::action].asInt()) {
    case 0:
        post(request, core::UM_BRUSH, 0, 0);
        break;
    case 1:
        post(request, core::UM_BRUSH, 1, 0);
        break;
    case 2:
        post(request, core::UM_BRUSH, 3, 0);
        break;
    case 3:
        // ARGB colours may arrive signed or unsigned; both fit in 64 bits.
        post(request, core::UM_BRUSH, 2, m[field::color].asInt64());
        break;
    case 4: {
        // An erase path needs whole points: at least one x, y pair.
        const Json::Value& list = arrayField(m, field::pointList);
        const Json::ArrayIndex count = list.size();
        if (count < 2 || count % 2 != 0)
            return;
        auto block = std::make_unique<core::StrokeBlock>();
        block->pointRadius = m[field::pointRadius].asDouble();
        block->points.reserve(count);
        for (Json::ArrayIndex i = 0; i < count; ++i)
            block->points.push_back(list[i].asDouble());
        post(request, core::UM_BRUSH, 5, 0, std::move(block));
        break;
    }
    case 5:
        post(request, core::UM_BRUSH, 6, m[field::size].asInt());
        break;
    default:
        break;
    }
}

void handleSpot(const Request& request) {
    const int action = request.message[field::action].asInt();
    if (action >= 0 && action <= 3)
        post(request, core::UM_SPOT, action, 0);
}

void handleDrawingBoard(const Request& request) {
    post(request, core::UM_DRAWING_BOARD, 1, request.message[field::action].asInt());
}

void handleEditText(const Request& request) {
    const std::string content = request.message[field::content].asString();
    withFeature(request.context.features.drawingBoard, "drawing board", request,
                [&](auto& board) { board.setInputText(content); });
}

void handleGlass(const Request& request) {
    post(request, core::UM_GLASS, request.message[field::action].asInt(), 0);
}

void handlePcCamera(const Request& request) {
    post(request, core::UM_PC_CAMERA, 0, 0);
}

void handlePpt(const Request& request) {
    CommandContext& context = request.context;
    const int action = request.message[field::action].asInt();
    if (action == 1) {
        const int slideIndex = request.message[field::slideIndex].asInt();
        if (!context.features.slides)
            return unavailable("slide show", request);
        context.features.slides->gotoSlide(slideIndex);
        return;
    }
    if (action != 0)
        return;
    if (!context.features.slides)
        return unavailable("slide show", request);

    const int64_t now = context.monotonicMs ? context.monotonicMs() : support::gettime2();
    {
        std::lock_guard<std::mutex> lock(context.pptMutex);
        if (context.pptAttachedOnce && now - context.lastPptAttach < kPptAttachIntervalMs)
            return;
        context.pptAttachedOnce = true;
        context.lastPptAttach = now;
    }
    context.features.slides->attach();
}

void handleScreenshot(const Request& request) {
    CommandContext& context = request.context;
    core::ScreenshotSaver* saver = context.features.screenshot;
    if (!saver)
        return unavailable("screenshot", request);
    if (!context.docDir)
        return unavailable("document folder", request);

    const std::string folder = context.docDir() + "/Snapshot";
    support::mkdir(folder);
    const std::string path = folder + "/" + support::getCurrentTime() + ".jpg";
    if (!saver->saveJpeg(path)) {
        LOGOUT("screenshot not saved: %s", path.c_str());
        return;
    }
    if (context.screenshotsToDrawingBoard)
        post(request, core::UM_PAINTER, 0, 0, core::makeTextBlock(path, core::kScreenshotPathUnits));
}

void handlePhotos(const Request& request) {
    const Json::Value& m = request.message;
    if (m.isMember(field::action) && m[field::action].asInt() != 1)
        return;
    const Json::Value& list = arrayField(m, field::urls);
    std::vector<std::string> urls;
    urls.reserve(list.size());
    for (const Json::Value& url : list) {
        if (url.isString())
            urls.push_back(url.asString());
    }
    const int index = m[field::index].asInt();
    withFeature(request.context.features.photoWall, "photo wall", request,
                [&](auto& wall) { wall.show(urls, index); });
}

void handleScreen(const Request& request) {
    auto block = std::make_unique<core::RunOnUiBlock>();
    block->first = request.message[field::action].asInt();
    block->second = 0;
    if (request.context.blackScreen) {
        block->callable = request.context.blackScreen;
    } else {
        block->callable = [](int64_t action, int64_t) {
            LOGOUT("black screen not available: action %lld", static_cast<long long>(action));
        };
    }
    post(request, core::UM_RUN_ON_UI, 0, 0, std::move(block));
}

}  // namespace ui::dispatch
