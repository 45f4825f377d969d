// Stand-ins for what the settings window asks of the program, recording it.
#pragma once

#include "core/features.h"
#include "core/settings.h"
#include "support/strings.h"
#include "ui/settings/settings_deps.h"

#include <string>
#include <vector>

namespace settings_test {

class FakeServer : public ui::settings::SettingsServer {
public:
    uint32_t bound = 0;
    std::vector<uint32_t> adapters;
    std::vector<uint32_t> phones;
    int disconnects = 0;

    uint32_t boundAddress() override { return bound; }
    std::vector<uint32_t> adapterAddresses() override { return adapters; }
    std::vector<uint32_t> identifiedAddresses() override { return phones; }
    bool anyIdentified() override { return !phones.empty(); }
    void disconnectAll() override {
        ++disconnects;
        phones.clear();
    }
};

class FakeCursors : public core::CursorSchemes {
public:
    std::vector<int> applied;
    void apply(int scheme) override { applied.push_back(scheme); }
};

inline uint32_t ip(const char* dotted) { return support::string2ip(dotted); }

}  // namespace settings_test
