// The recorder as the session server's remote record commands reach it: each
// call passes the dispatch gate, so a "start-record" datagram that arrives
// during shutdown never reaches a recorder that is being freed.
#pragma once

#include "net/session_types.h"
#include "ui/main/dispatch_gate.h"

namespace app {

class GatedRecordControl : public net::RecordControl {
public:
    GatedRecordControl(ui::DispatchGate& gate, net::RecordControl& recorder)
        : gate_(gate), recorder_(recorder) {}

    void startDefault() override {
        if (const ui::DispatchGate::Pass pass = gate_.enter()) recorder_.startDefault();
    }
    void stop() override {
        if (const ui::DispatchGate::Pass pass = gate_.enter()) recorder_.stop();
    }

private:
    ui::DispatchGate& gate_;
    net::RecordControl& recorder_;
};

}  // namespace app
