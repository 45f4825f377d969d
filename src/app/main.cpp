// lumacro3: serves phones on the session protocol until SIGINT or SIGTERM.
#include "app/program/logging_hub.h"
#include "app/settings.h"
#include "net/session_server.h"
#include "platform/network_adapters.h"
#include "platform/screen_info.h"
#include "protocol/constants.h"
#include "support/logger.h"
#include "support/strings.h"
#include "ui/main/command_context.h"
#include "ui/main/dispatcher.h"

#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

std::string computerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

int waitForTermination() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int signal = 0;
    sigwait(&set, &signal);
    return signal;
}

}  // namespace

int main(int argc, char** argv) {
    // Block the termination signals in every thread; the main thread waits for them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    app::MemorySettings settings;
    auto adapters = platform::makeSystemNetworkAdapters();
    auto screen = platform::makeSystemScreenInfo();
    app::LoggingHub hub;

    auto server = std::make_unique<net::SessionServer>(*adapters, *screen);
    server->setServerName(settings.getString(app::setting::SET, "srvName", computerName()));

    ui::CommandContext context;
    context.server = server.get();
    context.hub = &hub;
    context.settings = &settings;
    context.docDir = [&settings] {
        const char* home = std::getenv("HOME");
        return settings.getString(app::setting::SET, "DOC_DIR",
                                  std::string(home ? home : "/tmp") + "/Documents/Faroline");
    };

    uint32_t address = support::string2ip(settings.getString(app::setting::NET, "bindIp", "0.0.0.0"));
    if (server->start(address, protocol::kSessionPort, ui::onSessionEvent, &context))
        settings.setString(app::setting::NET, "bindIp", support::ip2string(address));
    else
        LOGOUT("running without a session server");

    const int signal = waitForTermination();
    LOGOUT("signal %d, shutting down", signal);

    server->halt();
    hub.stop();
    ui::releasePhoneResources(context);
    LOGOUT("actHandler cleared");
    server->shutdown();
    server.reset();
    LOGOUT("netSrv freed");
    return 0;
}
