// A small frameless top-most window that input passes through; it follows the
// pointer and draws a cursor picture (stepping through its frames).
#pragma once

#include <QImage>
#include <QPoint>
#include <QTimer>
#include <QWidget>
#include <vector>

namespace input {

struct CursorPicture {
    struct Step {
        QImage image;   // ARGB32
        QPoint hotSpot;
        int delayMs = 0;
    };
    std::vector<Step> steps;
};

class CursorWindow : public QWidget {
public:
    CursorWindow();
    // Shows the picture at the pointer and keeps following it.
    void start(CursorPicture picture);
    void stop();
    int currentStep() const { return step_; }
    const CursorPicture& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void showStep(int step);
    void follow();

    CursorPicture picture_;
    int step_ = 0;
    QTimer animation_;
    QTimer tracking_;
    QPoint lastPointer_{-100000, -100000};
    int ticksSinceRaise_ = 0;
};

}  // namespace input
