// One QApplication for the Qt tests, on the test's private X server.
#pragma once

#include "x_fixture.h"

#include <QApplication>
#include <QElapsedTimer>

namespace input_test {

inline QApplication* qtApp() {
    static QApplication* app = [] {
        PrivateXServer::instance();  // DISPLAY names it from now on
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "test_input";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);  // lives until the process ends
    }();
    return app;
}

// Runs the UI thread's events until `done` holds or `timeoutMs` passed.
template <typename Pred>
bool pumpUntil(Pred done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace input_test
