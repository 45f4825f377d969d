// The small top-most window that asks the teacher about a phone that is not
// approved yet: the phone's tag, address and identity, what it asks for, and
// "Allow once", "Always allow" or "Refuse". With no answer before the time
// runs out the phone is refused.
#pragma once

#include "core/phone_access.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace ui::widgets {
class MyButton;
}

namespace ui::access {

enum class Answer { AllowOnce, AlwaysAllow, Refuse, TimedOut, Gone };

class ApprovalWnd : public QWidget {
public:
    // `answered` is called once, on the UI thread, with the teacher's answer,
    // TimedOut when the time ran out, or Gone when the phone left first.
    // `stillHeld` is asked on every tick.
    ApprovalWnd(core::PhoneEntry phone, int timeoutMs, float uiScale, std::function<bool()> stillHeld,
                std::function<void(Answer)> answered);
    ~ApprovalWnd() override;

    const core::PhoneEntry& phone() const { return phone_; }
    // Whole seconds left, as the window shows them.
    int secondsLeft() const;
    widgets::MyButton* allowOnceButton() const { return allowOnce_; }
    widgets::MyButton* alwaysAllowButton() const { return alwaysAllow_; }
    widgets::MyButton* refuseButton() const { return refuse_; }
    // The lines the window shows (translated), for the tests.
    QString titleText() const;
    QString requestText() const;
    QString countdownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int px(double v) const { return static_cast<int>(v * scale_); }
    void finish(Answer answer);
    void tick();

    core::PhoneEntry phone_;
    int timeoutMs_;
    double scale_;
    std::function<bool()> stillHeld_;
    std::function<void(Answer)> answered_;
    bool finished_ = false;
    QElapsedTimer elapsed_;
    QTimer ticker_;
    widgets::MyButton* allowOnce_ = nullptr;
    widgets::MyButton* alwaysAllow_ = nullptr;
    widgets::MyButton* refuse_ = nullptr;
};

}  // namespace ui::access
