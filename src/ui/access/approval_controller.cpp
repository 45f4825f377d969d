#include "ui/access/approval_controller.h"

#include "support/logger.h"
#include "support/strings.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QTimer>

namespace ui::access {

ApprovalController::ApprovalController(core::PhoneDirectory& directory, core::Settings& settings, float uiScale)
    : directory_(directory), settings_(settings), uiScale_(uiScale) {}

ApprovalController::~ApprovalController() = default;

bool ApprovalController::needsApproval(const core::PhoneEntry& phone) {
    core::AccessSettings access(settings_);
    return access.approvalRequired() && !access.isApproved(phone.identity);
}

void ApprovalController::requestApproval(const core::PhoneEntry& phone) {
    QMetaObject::invokeMethod(this, [this, phone] { open(phone); }, Qt::QueuedConnection);
}

std::vector<ApprovalWnd*> ApprovalController::windows() const {
    std::vector<ApprovalWnd*> out;
    for (const auto& [id, window] : windows_) out.push_back(window.get());
    return out;
}

void ApprovalController::open(const core::PhoneEntry& phone) {
    const std::string peer = support::ip2string(phone.address);
    if (!directory_.isHeld(phone.id)) return;  // gone before the window could open
    if (windows_.size() >= kMaxWindows) {
        LOGOUT("%s refused: %zu phones already wait for the teacher", peer.c_str(), windows_.size());
        directory_.refuse(phone.id);
        return;
    }
    const uint64_t id = phone.id;
    auto window = std::make_unique<ApprovalWnd>(
        phone, timeoutMs_, uiScale_, [this, id] { return directory_.isHeld(id); },
        [this, id](Answer answer) { answered(id, answer); });
    ApprovalWnd* raw = window.get();
    windows_[id] = std::move(window);
    place();
    raw->show();
    raw->raise();
}

void ApprovalController::answered(uint64_t id, Answer answer) {
    auto it = windows_.find(id);
    if (it == windows_.end()) return;
    const core::PhoneEntry phone = it->second->phone();
    const std::string peer = support::ip2string(phone.address);
    switch (answer) {
    case Answer::AlwaysAllow:
        if (!core::AccessSettings(settings_).approve(phone.identity, phone.tag))
            LOGOUT("%s could not be remembered as approved", peer.c_str());
        [[fallthrough]];
    case Answer::AllowOnce:
        if (!directory_.allow(id)) LOGOUT("%s left before it was allowed", peer.c_str());
        break;
    case Answer::TimedOut:
        LOGOUT("%s not answered in time", peer.c_str());
        [[fallthrough]];
    case Answer::Refuse:
        directory_.refuse(id);
        break;
    case Answer::Gone:
        break;
    }
    // The window is inside its own button's click handler: it is freed once
    // that has returned, or with the controller.
    retired_.push_back(std::move(it->second));
    windows_.erase(it);
    QTimer::singleShot(0, this, [this] { retired_.clear(); });
    place();
}

void ApprovalController::place() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    // Bottom right of the work area, the oldest lowest, the others above it.
    const QRect area = screen->availableGeometry();
    const int margin = static_cast<int>(16 * uiScale_);
    int bottom = area.bottom() - margin;
    for (const auto& [id, window] : windows_) {
        window->move(area.right() - margin - window->width(), bottom - window->height());
        bottom -= window->height() + margin;
    }
}

}  // namespace ui::access
