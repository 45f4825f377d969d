#include "input/qt_clipboard.h"

#include "support/logger.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>

#include <chrono>
#include <future>
#include <memory>

namespace input {

bool QtClipboardWriter::setText(const std::string& utf8) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !qobject_cast<QGuiApplication*>(app)) {
        LOGOUT("clipboard: no application, text not pasted");
        return false;
    }
    const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    if (QThread::currentThread() == app->thread()) {
        QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
        return true;
    }
    // The UI thread owns the selection; a busy or quitting UI thread must not
    // hold the session up for long.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> taken = done->get_future();
    const bool queued = QMetaObject::invokeMethod(
        app,
        [text, done] {
            QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
            done->set_value();
        },
        Qt::QueuedConnection);
    done.reset();  // only the queued call holds the promise now
    if (!queued) return false;
    if (taken.wait_for(std::chrono::milliseconds(timeoutMs_)) != std::future_status::ready) {
        LOGOUT("clipboard: the UI thread did not take the text in time, not pasted");
        return false;
    }
    try {
        taken.get();
        return true;
    } catch (const std::future_error&) {
        return false;  // dropped at shutdown
    }
}

}  // namespace input
