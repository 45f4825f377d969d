// The teacher's approval of phones: decides after each handshake whether a
// phone must wait (approval switched on and the phone not approved before),
// opens one approval window per held phone on the UI thread and passes the
// answer to the session server. "Always allow" remembers the phone in the
// settings.
#pragma once

#include "core/phone_access.h"
#include "ui/access/approval_wnd.h"

#include <QObject>

#include <map>
#include <memory>
#include <vector>

namespace ui::access {

class ApprovalController : public QObject, public core::PhoneAdmission {
public:
    static constexpr int kDefaultTimeoutMs = 30000;
    // Windows open at once; a phone held beyond them is refused at once, so
    // a flood of connections cannot pile windows on the teacher's screen.
    static constexpr size_t kMaxWindows = 4;

    // Lives on the UI thread; must outlive the session server's threads
    // (the server calls needsApproval and requestApproval on them).
    ApprovalController(core::PhoneDirectory& directory, core::Settings& settings, float uiScale = 1.0f);
    ~ApprovalController() override;

    // core::PhoneAdmission (any thread)
    bool needsApproval(const core::PhoneEntry& phone) override;
    void requestApproval(const core::PhoneEntry& phone) override;

    // For tests: the time a window waits for an answer.
    void setTimeout(int ms) { timeoutMs_ = ms; }
    int timeout() const { return timeoutMs_; }
    // The windows open now, oldest first (UI thread).
    std::vector<ApprovalWnd*> windows() const;

private:
    void open(const core::PhoneEntry& phone);
    void answered(uint64_t id, Answer answer);
    void place();

    core::PhoneDirectory& directory_;
    core::Settings& settings_;
    float uiScale_;
    int timeoutMs_ = kDefaultTimeoutMs;
    std::map<uint64_t, std::unique_ptr<ApprovalWnd>> windows_;  // by phone id
    std::vector<std::unique_ptr<ApprovalWnd>> retired_;          // answered, freed soon
};

}  // namespace ui::access
