// The clipboard through Qt: the text is set on the UI thread, which then owns
// the CLIPBOARD selection and answers the paste target's request. Callable
// from any thread; qApp must exist.
#pragma once

#include "input/clipboard.h"

namespace input {

class QtClipboardWriter : public ClipboardWriter {
public:
    // How long a session thread waits for the UI thread to take the text.
    explicit QtClipboardWriter(int timeoutMs = 1000) : timeoutMs_(timeoutMs) {}
    bool setText(const std::string& utf8) override;

private:
    int timeoutMs_;
};

}  // namespace input
