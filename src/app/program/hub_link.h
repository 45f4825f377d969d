// How other programs reach the running main hub: a per-user local socket in
// the runtime folder that takes records of (message number, wParam, lParam),
// 20 bytes each, little-endian (u32, i64, i64). It stands in for posting
// window messages between programs.
#pragma once

#include <cstdint>
#include <string>

namespace app {

inline constexpr size_t kHubRecordSize = 20;

struct HubRecord {
    uint32_t message = 0;
    int64_t wParam = 0;
    int64_t lParam = 0;
};

// "$XDG_RUNTIME_DIR/Lumacro3.hub" (or the private /tmp folder); empty when
// there is no private runtime folder.
std::string hubSocketPath();

void encodeHubRecord(const HubRecord& record, uint8_t out[kHubRecordSize]);
HubRecord decodeHubRecord(const uint8_t in[kHubRecordSize]);

// Sends one record to the running program; false when nobody listens.
bool postToRunningInstance(uint32_t message, int64_t wParam = 0, int64_t lParam = 0,
                           const std::string& socketPath = hubSocketPath());

// The messages other programs may post; everything else is ignored.
bool isHubSocketMessage(uint32_t message);

}  // namespace app
