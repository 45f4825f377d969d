// A private PulseAudio server with one null sink ("ci_sink") for tests that
// need real sound: started in a temporary folder, reached through
// PULSE_SERVER, killed when the object goes.
#pragma once

#include "common/run_command.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

class PulseServer {
public:
    explicit PulseServer(const std::string& sinkName = "ci_sink") : sink_(sinkName) {
        char tmpl[] = "/tmp/lumacro3-pulse-XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir_ = tmpl;
        const std::string socket = dir_ + "/native";
        pid_ = fork();
        if (pid_ == 0) {
            // The server ends with the test, even when the test is killed.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            setenv("HOME", dir_.c_str(), 1);
            setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
            unsetenv("PULSE_SERVER");
            const std::string native =
                "module-native-protocol-unix socket=" + socket + " auth-anonymous=1";
            const std::string nullSink = "module-null-sink sink_name=" + sink_;
            // Quiet unless the test is debugged.
            if (!getenv("LUMACRO3_PULSE_VERBOSE")) {
                freopen("/dev/null", "w", stdout);
                freopen("/dev/null", "w", stderr);
            }
            execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                   "--use-pid-file=no", "--disallow-exit", "-L", native.c_str(), "-L",
                   nullSink.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) return;
        // Ready once the socket exists and pactl gets an answer (about 0.1 s).
        server_ = "unix:" + socket;
        for (int i = 0; i < 100; ++i) {
            struct stat st {};
            if (stat(socket.c_str(), &st) == 0 &&
                run("pactl --server=" + server_ + " info >/dev/null 2>&1") == 0) {
                ready_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (ready_) setenv("PULSE_SERVER", server_.c_str(), 1);
    }

    ~PulseServer() {
        if (ready_) unsetenv("PULSE_SERVER");
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (waitpid(pid_, &status, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
            }
        }
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }

    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool ready() const { return ready_; }
    // "unix:/tmp/.../native", also exported as PULSE_SERVER while ready.
    const std::string& server() const { return server_; }
    const std::string& sink() const { return sink_; }
    std::string monitor() const { return sink_ + ".monitor"; }

    // Runs pactl against this server and returns its standard output.
    std::string pactl(const std::string& args) const {
        return commandOutput("pactl --server=" + server_ + " " + args + " 2>/dev/null");
    }

private:
    static int run(const std::string& cmd) { return std::system(cmd.c_str()); }

    std::string sink_;
    std::string dir_;
    std::string server_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace testing_support
