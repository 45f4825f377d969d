// Who may control this PC: the connected phones as the windows list them, the
// teacher's approval of phones that connect, and the settings behind both.
#pragma once

#include "core/settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace core {

// One phone session as the connect window and the approval window show it.
// `id` is the session's number for the life of the process (never reused,
// unlike the socket).
struct PhoneEntry {
    uint64_t id = 0;
    int socket = -1;
    uint32_t address = 0;  // IPv4, network order
    bool admin = false;    // the controlling phone
    bool held = false;     // waiting for the teacher's approval
    std::string identity;  // "uniqueId", else "mac"; may be empty
    std::string tag;       // the phone's product tag, may be empty
};

// The session server's list of phones, for the windows (UI thread).
class PhoneDirectory {
public:
    virtual ~PhoneDirectory() = default;
    // Phones that finished their handshake or wait for approval, in connect order.
    virtual std::vector<PhoneEntry> phones() = 0;
    // Ends that phone's session; false when it is no longer there.
    virtual bool disconnect(uint64_t id) = 0;
    // A held phone: let it in (its client-ready event follows) or end its
    // session. False when it is not held (any more).
    virtual bool allow(uint64_t id) = 0;
    virtual bool refuse(uint64_t id) = 0;
    virtual bool isHeld(uint64_t id) = 0;
};

// Asked by the session server after a phone's handshake, on that phone's
// receive thread and without the server's lock.
class PhoneAdmission {
public:
    virtual ~PhoneAdmission() = default;
    // True when the phone must wait for the teacher's approval.
    virtual bool needsApproval(const PhoneEntry& phone) = 0;
    // The phone is held from now on; the answer comes through PhoneDirectory.
    // Must return at once.
    virtual void requestApproval(const PhoneEntry& phone) = 0;
};

// A phone the teacher chose to always allow.
struct ApprovedPhone {
    std::string identity;
    std::string tag;  // as the phone named itself when it was approved
};

// The access settings in section SET, read at each call (the settings page
// and the program share them). Qt-free, so a settings page can call it.
class AccessSettings {
public:
    // 1: a watching phone (accepted with "admin" false) cannot act on the PC.
    static constexpr char kWatchOnly[] = "WATCH_ONLY";
    // 1: phones not approved before wait for the teacher's approval.
    static constexpr char kApprovePhones[] = "APPROVE_PHONES";
    // The approved phones, as a JSON array of {"id", "tag"} objects.
    static constexpr char kApprovedPhones[] = "APPROVED_PHONES";
    // The list keeps at most this many phones; the oldest give way.
    static constexpr size_t kMaxApproved = 500;

    explicit AccessSettings(Settings& store) : store_(store) {}

    bool watchOnly();
    bool setWatchOnly(bool on);
    bool approvalRequired();
    bool setApprovalRequired(bool on);

    std::vector<ApprovedPhone> approvedPhones();
    // An empty identity is never approved.
    bool isApproved(const std::string& identity);
    // Adds the phone, or renews its tag; false for an empty identity or when
    // the store cannot be written.
    bool approve(const std::string& identity, const std::string& tag);
    // False when it was not in the list.
    bool removeApproved(const std::string& identity);

private:
    bool store(const std::vector<ApprovedPhone>& phones);
    Settings& store_;
};

}  // namespace core
