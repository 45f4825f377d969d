// Puts text on the system clipboard for a paste.
#pragma once

#include <string>

namespace input {

class ClipboardWriter {
public:
    virtual ~ClipboardWriter() = default;
    // Makes `utf8` the clipboard's text, whole; false when the clipboard
    // could not be set (then nothing should be pasted).
    virtual bool setText(const std::string& utf8) = 0;
};

}  // namespace input
