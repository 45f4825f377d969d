// A private X display for one test program run (each test runs in its own
// process), optionally with the xcompmgr compositing manager, a known
// background under the overlays, the Qt application, and grabs of the root
// window through the program's own screen grabber (what the live stream and
// the recorder see).
#pragma once

#include "common/private_xvfb.h"
#include "core/overlay_flags.h"
#include "core/pointer_forward.h"
#include "core/settings.h"
#include "common/screen_image.h"
#include "platform/screen_grabber.h"
#include "tools/tools_link.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QWidget>

#include <json/value.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace overlay_test {

inline constexpr QRgb kBackground = 0xFF207090;

// Full-screen, unmanaged window in one colour: the "desktop" under the overlays.
class Backdrop : public QWidget {
public:
    explicit Backdrop(QRgb colour) : colour_(colour) {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setGeometry(0, 0, 1920, 1080);
        show();
    }
    QRgb colour_;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor::fromRgb(colour_));
        // A white block in the top-left corner for pictures that must move.
        p.fillRect(QRect(0, 0, 200, 100), Qt::white);
    }
};

// A small unmanaged window in one colour: a feature of the screen whose
// place the tests know.
class Marker : public QWidget {
public:
    Marker(QRect where, QRgb colour) {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        QPalette palette;
        palette.setColor(QPalette::Window, QColor::fromRgb(colour));
        setPalette(palette);
        setAutoFillBackground(true);
        setGeometry(where);
        show();
    }
};

class Env {
public:
    Env(bool compositor, bool windowManager = false) : xvfb_(1920, 1080) {
        if (!xvfb_.ok()) return;
        if (compositor) compositorPid_ = startHelper("xcompmgr");
        if (windowManager) windowManagerPid_ = startHelper("openbox");
        static int argc = 1;
        static char name[] = "test_tools_overlay";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        backdrop_ = std::make_unique<Backdrop>(kBackground);
        // Under a window manager the desktop lies below every managed window.
        if (windowManager) backdrop_->lower();
        settle(200);
    }
    ~Env() {
        backdrop_.reset();
        app_.reset();
        for (pid_t pid : {windowManagerPid_, compositorPid_}) {
            if (pid <= 0) continue;
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }

    bool ok() const { return xvfb_.ok() && app_ != nullptr; }

    // Runs the event loop for `ms` milliseconds.
    static void settle(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
    }

    // Runs the event loop until `done` holds or 3 s passed.
    static bool waitUntil(const std::function<bool()>& done) {
        return testing_support::waitWithEvents(done, 3000);
    }

    // The root window as the screen capture sees it.
    static QImage grab() { return testing_support::grabScreen(); }

    // Waits until the captured screen satisfies `check`; returns the last grab.
    static QImage grabWhen(const std::function<bool(const QImage&)>& check) {
        QImage last;
        waitUntil([&] {
            last = grab();
            return !last.isNull() && check(last);
        });
        keep(last);
        return last;
    }

    // OVERLAY_SHOTS=folder keeps every checked picture for a look by eye.
    static void keep(const QImage& image) {
        const char* folder = std::getenv("OVERLAY_SHOTS");
        if (!folder || image.isNull()) return;
        static int number = 0;
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "shot";
        for (char& c : name)
            if (c == '/') c = '_';
        image.save(QString::fromStdString(std::string(folder) + "/" + name + "." +
                                          std::to_string(++number) + ".png"));
    }

private:
    // xcompmgr or openbox on the private display, gone with this process.
    static pid_t startHelper(const char* program) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp(program, program, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready once it owns its selection: give it a moment.
        ::usleep(400 * 1000);
        return pid;
    }

    testing_support::PrivateXvfb xvfb_;
    pid_t compositorPid_ = -1;
    pid_t windowManagerPid_ = -1;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<Backdrop> backdrop_;
};

// The overlay state and forwarded pointer record that the program owns once;
// here one pair serves every test of the process.
inline core::OverlayFlags& testOverlay() {
    static core::OverlayFlags flags;
    return flags;
}
inline core::ForwardedPointerSlot& testPointer() {
    static core::ForwardedPointerSlot slot;
    return slot;
}

// The phones as the overlays see them: every broadcast is kept.
struct Phones {
    std::vector<std::pair<std::string, Json::Value>> sent;
    // The overlay flags that route the phone's input, as each message left.
    struct Flags {
        bool forwarding, spotlight, magnifier;
    };
    std::vector<Flags> flagsAtSend;
    std::string tag;
    int height = 0;
    core::MemorySettings settings;

    tools::ToolsLink link() {
        tools::ToolsLink l;
        l.broadcast = [this](const std::string& name, const Json::Value& body) {
            sent.emplace_back(name, body);
            const core::OverlayFlags& f = testOverlay();
            flagsAtSend.push_back({f.annotationForwarding.load(), f.spotlightActive.load(), f.magnifierActive.load()});
        };
        l.controllerTag = [this] { return tag; };
        l.controllerHeight = [this] { return height; };
        l.settings = &settings;
        l.overlay = &testOverlay();
        l.forwarded = &testPointer();
        l.screenshot = [] { return Env::grab(); };
        return l;
    }
    // The "state" values of every message of that class, in order.
    std::vector<int> states(const std::string& className) const {
        std::vector<int> out;
        for (const auto& [name, body] : sent)
            if (name == className) out.push_back(body["state"].asInt());
        return out;
    }
    // One flag as each message of that class left, in order.
    std::vector<int> flagAtSend(const std::string& className, bool Flags::*flag) const {
        std::vector<int> out;
        for (size_t i = 0; i < sent.size(); ++i)
            if (sent[i].first == className) out.push_back(flagsAtSend[i].*flag ? 1 : 0);
        return out;
    }
    int count(const std::string& className) const {
        int n = 0;
        for (const auto& entry : sent) n += entry.first == className ? 1 : 0;
        return n;
    }
};

// Channel-wise closeness of two colours.
inline bool near(QRgb a, QRgb b, int tolerance = 24) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// A left-button mouse event sent straight to the window.
inline void mouse(QWidget& w, QEvent::Type type, QPoint at) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(at), w.mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

inline std::string hex(QRgb c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06x", c & 0xFFFFFF);
    return text;
}

}  // namespace overlay_test
