// The one QApplication of a test program and a wait that keeps its event
// loop turning, for tests of windows and of code that posts to the UI thread.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

namespace testing_support {

// Made on first use with `programName` as argv[0]; later names are ignored.
inline QApplication& qtApp(const char* programName) {
    static int argc = 1;
    static char name[64] = {};
    static char* argv[] = {name, nullptr};
    if (!name[0]) {
        for (size_t i = 0; i + 1 < sizeof name && programName[i]; ++i) name[i] = programName[i];
    }
    static QApplication app(argc, argv);
    return app;
}

// Runs the UI loop until `done` holds (true) or `ms` passed (false).
template <typename Pred>
bool spinUntil(Pred done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace testing_support
