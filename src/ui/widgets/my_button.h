// A push button drawn entirely by the program: four states (normal, hover,
// pressed, disabled), each with its own colours, picture, caption, font and
// edge, set by style strings (see button_style.h). Clicks reach the parent
// as usual through clicked().
#pragma once

#include "ui/widgets/button_style.h"

#include <QPushButton>

#include <array>

namespace ui::widgets {

class MyButton : public QPushButton {
public:
    enum State { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };
    // What is inside the button.
    enum Layout { TextOnly = 0, IconOnly = 1, IconLeft = 2, IconAbove = 3 };

    explicit MyButton(QWidget* parent = nullptr);

    // printf-style style strings (at most 1024 characters after formatting).
    // setStyle sets the normal state and copies it to the others; the
    // disabled state gets a grey copy of the icon.
    void setStyle(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void setHoverStyle(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void setDownStyle(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Layout, margin and the four states of `other`, with the picture
    // `iconId` as the icon of every state (in colour, also when disabled).
    void copyStyleFrom(const MyButton& other, int iconId);
    void setLayoutMode(int mode);
    void setMargin(int pixels);

    int layoutMode() const { return layout_; }
    int margin() const { return margin_; }
    const ButtonStateStyle& stateStyle(State state) const { return states_[state]; }
    // The state the next paint draws.
    State currentState() const;
    bool hovered() const { return hovered_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // Formats the style string into one state's style and repaints.
    void applyFormatted(State state, const char* format, va_list args);
    void setHovered(bool on);

    std::array<ButtonStateStyle, 4> states_;
    bool hovered_ = false;
    bool pressed_ = false;
    int layout_ = IconLeft;
    int margin_ = 4;
};

}  // namespace ui::widgets
