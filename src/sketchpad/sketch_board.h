// The drawing board window: a white page over the whole primary screen with
// a small tool bar (pages, pen colours, clear, close). The teacher draws with
// the mouse (the phone's pointer arrives as real pointer events too);
// pictures come in on new pages; the phone turns, zooms and pages through it
// and types into a text box.
#pragma once

#include "sketchpad/board_page.h"
#include "tools/overlay_window.h"

#include <QTimer>

#include <functional>
#include <vector>

namespace sketchpad {

// What the board tells its owner.
struct BoardEvents {
    std::function<void(bool opened)> stateChanged;
    std::function<void()> textEnded;
};

class SketchBoard : public tools::OverlayWindow {
public:
    explicit SketchBoard(BoardEvents events);
    ~SketchBoard() override;

    void open();
    void close();
    bool opened() const { return opened_; }

    // A picture on a new page after the last one, fitted; `anim` non-zero
    // lets it grow in. False when the file does not decode.
    bool insertImage(const QString& path, int anim);
    void nextPage(bool forward);
    void zoom(bool in);
    void turn(double degrees);
    // The text of the box being typed into (made on the shown page when none is).
    void setInputText(const QString& text);
    // Every page goes; one blank page remains.
    void clear();
    // Ends typing into the text box (the owner hears of it).
    void endText();

    int pageCount() const { return static_cast<int>(pages_.size()); }
    int currentPage() const { return current_; }
    const BoardPage& page() const { return pages_[current_]; }

    // Tool bar buttons, in window pixels.
    enum class Button { Previous, Next, Black, Red, Blue, Clear, Close, None };
    QRect buttonRect(Button button) const;

    // Length of the "anim" grow-in, milliseconds.
    static constexpr int kAnimMs = 450;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    BoardPage newPage() const;
    void goTo(int page);
    QRect toolBarRect() const;
    Button buttonAt(QPoint at) const;
    void paintToolBar(QPainter& p);

    BoardEvents events_;
    std::vector<BoardPage> pages_;
    int current_ = 0;
    bool opened_ = false;
    QColor pen_ = QColor(0x20, 0x20, 0x20);
    bool drawing_ = false;
    int typing_ = -1;  // index of the text box being typed into on the current page
    // Grow-in of the picture on the current page: 0..1, 1 when done.
    double anim_ = 1.0;
    qint64 animStart_ = 0;
    QTimer animTimer_;
};

}  // namespace sketchpad
