// The presentation cursor ("magic mouse"): schemes 0..7 are the cursor files
// shipped in <program folder>/cursor, 8 the file named by CURSOR_PATH, 9 and
// above the normal pointer. X11 has no system-wide cursor replacement, so the
// system pointer is hidden and a small top-most window that lets input through
// follows the pointer and shows the scheme's picture (animated for .ani).
#pragma once

#include "core/features.h"
#include "core/settings.h"
#include "platform/input_injector.h"

#include <QObject>
#include <memory>
#include <string>

namespace input {

class CursorWindow;

class PresentationCursor : public QObject, public core::CursorSchemes {
public:
    // Create on the UI thread. `pointer` hides and shows the system pointer
    // (may be null: then only the window is shown). Settings may be null.
    PresentationCursor(core::Settings* settings, std::string programDir, platform::InputInjector* pointer);
    // Restores the normal pointer.
    ~PresentationCursor() override;

    // Any thread; runs at once on the UI thread, else queued to it.
    void apply(int scheme) override;

    // UI thread: the presentation cursor is on screen.
    bool active() const;
    // UI thread: the window that shows it (null before the first scheme).
    CursorWindow* window() const { return window_.get(); }

    static const char* const kSchemeFiles[8];

private:
    void applyHere(int scheme);
    void restore();

    core::Settings* settings_;
    std::string programDir_;
    platform::InputInjector* pointer_;
    std::unique_ptr<CursorWindow> window_;
};

}  // namespace input
