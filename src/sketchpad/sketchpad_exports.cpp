// The C interface of the drawing-board library. The hub calls it on the UI
// thread; the input handlers and the dispatcher call some of it from session
// threads. Everything that touches the board window runs on the UI thread:
// calls from other threads are queued there through a helper object, which
// goes (with the calls still queued on it) when the library is unloaded.
#include "sketchpad/sketch_board.h"
#include "support/language.h"
#include "ui/main/drawing_board_api.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <dlfcn.h>
#include <functional>
#include <mutex>
#include <string>

namespace {

// Owner notifications (their numbers are fixed by the hub).
constexpr uint32_t kDrawingBoardMessage = 0x554;
constexpr uint32_t kEditTextEndMessage = 0x54d;
// wParam of a state report (1 and 2 are the hub's own open/close and clear).
constexpr int64_t kStateReport = 0;

struct Library {
    std::mutex mutex;
    QObject* host = nullptr;
    HubOwner owner{nullptr, nullptr};
    std::string docDir;
    int httpPort = 0;
    std::atomic<bool> opened{false};
    std::atomic<int> anime{0};
    sketchpad::SketchBoard* board = nullptr;  // UI thread only
};

Library& lib() {
    static Library instance;
    return instance;
}

void notifyOwner(uint32_t message, int64_t wParam, int64_t lParam) {
    HubOwner owner;
    {
        std::lock_guard<std::mutex> lock(lib().mutex);
        owner = lib().owner;
    }
    if (owner.post) owner.post(owner.hub, message, wParam, lParam);
}

QObject* host() {
    Library& l = lib();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!l.host && qApp) {
        l.host = new QObject;
        if (l.host->thread() != qApp->thread()) l.host->moveToThread(qApp->thread());
    }
    return l.host;
}

// Runs `fn` on the UI thread: now when called there, queued otherwise.
void onUi(std::function<void()> fn) {
    QObject* h = host();
    if (!h) return;
    if (QThread::currentThread() == h->thread())
        fn();
    else
        QMetaObject::invokeMethod(h, std::move(fn), Qt::QueuedConnection);
}

sketchpad::SketchBoard& board() {
    Library& l = lib();
    if (!l.board) {
        sketchpad::BoardEvents events;
        events.stateChanged = [](bool opened) {
            lib().opened = opened;
            notifyOwner(kDrawingBoardMessage, kStateReport, opened ? 1 : 0);
        };
        events.textEnded = [] { notifyOwner(kEditTextEndMessage, 0, 0); };
        l.board = new sketchpad::SketchBoard(std::move(events));
    }
    return *l.board;
}

std::string libraryFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&lib), &info) || !info.dli_fname) return ".";
    const std::string path = info.dli_fname;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Unloading: the window and the helper object go while the UI thread is
// the one unloading (the hub unloads from there); queued calls go with them.
__attribute__((destructor)) void unloadBoard() {
    Library& l = lib();
    if (!qApp || QThread::currentThread() != qApp->thread()) return;
    delete l.board;
    l.board = nullptr;
    delete l.host;
    l.host = nullptr;
}

}  // namespace

#define SKETCHPAD_EXPORT extern "C" __attribute__((visibility("default")))

SKETCHPAD_EXPORT void openPainter() {
    onUi([] { board().open(); });
}

SKETCHPAD_EXPORT void insertImage(const char* path) {
    if (!path) return;
    const QString file = QString::fromUtf8(path);
    const int anim = lib().anime.load();
    onUi([file, anim] { board().insertImage(file, anim); });
}

SKETCHPAD_EXPORT void closePainter() {
    onUi([] {
        if (lib().board) lib().board->close();
    });
}

SKETCHPAD_EXPORT void setInputText(const char* text) {
    if (!text) return;
    const QString content = QString::fromUtf8(text);
    onUi([content] {
        if (lib().board && lib().board->opened()) lib().board->setInputText(content);
    });
}

SKETCHPAD_EXPORT int isPainterOpened() { return lib().opened.load() ? 1 : 0; }

SKETCHPAD_EXPORT void setOwner(HubOwner* owner, int, const char* docDir, int httpPort) {
    Library& l = lib();
    {
        std::lock_guard<std::mutex> lock(l.mutex);
        l.owner = owner ? *owner : HubOwner{nullptr, nullptr};
        l.docDir = docDir ? docDir : "";
        l.httpPort = httpPort;
    }
    host();
}

SKETCHPAD_EXPORT void imageZoom(int zoomIn) {
    onUi([zoomIn] {
        if (lib().board && lib().board->opened()) lib().board->zoom(zoomIn != 0);
    });
}

SKETCHPAD_EXPORT void setLanguage(const char* language) {
    const std::string name = support::getCompatibleLanguageName(language ? language : "");
    support::loadLanguage(libraryFolder() + "/language/Lumacro3." + name + ".xml");
    onUi([] {
        if (lib().board)
            lib().board->setWindowTitle(QString::fromStdString(support::translate("画板", "Sketchpad")));
    });
}

SKETCHPAD_EXPORT void clearPainter() {
    onUi([] {
        if (lib().board) lib().board->clear();
    });
}

SKETCHPAD_EXPORT void nextPage(int forward) {
    onUi([forward] {
        if (lib().board && lib().board->opened()) lib().board->nextPage(forward != 0);
    });
}

SKETCHPAD_EXPORT void setRotateAngle(float degrees) {
    onUi([degrees] {
        if (lib().board && lib().board->opened()) lib().board->turn(degrees);
    });
}

SKETCHPAD_EXPORT void setAnime(int effect) { lib().anime = effect; }
