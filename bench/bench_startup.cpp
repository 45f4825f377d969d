// Start-up time of lumacro3 to the moment it answers discovery ("listening"),
// and its idle CPU and resident memory afterwards, on the current display.
// The reference is the start of a plain X client (xdpyinfo) on the same
// display: the cost every X program pays before doing its own work.
//
//   bench_startup [runs=5] [idle_seconds=10]
#include "bench_common.h"
#include "phone/discovery.h"
#include "protocol/constants.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& env) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> a, e;
    for (auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, a.data(), e.data()) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// utime + stime of a process in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stod(field);
        if (i == 15) stime = std::stod(field);
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double rssMiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const char* display = std::getenv("DISPLAY");
    if (!display) bench::fail("no DISPLAY (run under scripts/with-display)");
    const std::string program = std::string(LUMACRO3_BIN_DIR) + "/lumacro3";
    const std::string address = "127.3.2.1";

    std::vector<double> startMs, referenceMs;
    double idleCpuPercent = 0, rss = 0;
    for (int run = 0; run < runs; ++run) {
        char pattern[] = "/tmp/lumacro3-bench-XXXXXX";
        const std::string home = ::mkdtemp(pattern);
        const std::vector<std::string> env{"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                                           "XDG_RUNTIME_DIR=" + home,
                                           "LUMACRO3_LISTEN_ADDRESS=" + address,
                                           "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                           std::string("DISPLAY=") + display};
        auto t0 = Clock::now();
        const pid_t ref = spawn("xdpyinfo", {}, env);
        if (ref > 0) waitpid(ref, nullptr, 0);
        referenceMs.push_back(msSince(t0));

        t0 = Clock::now();
        const pid_t pid = spawn(program, {}, env);
        if (pid <= 0) bench::fail("cannot start %s", program.c_str());
        bool ready = false;
        while (!ready && msSince(t0) < bench::kStallSeconds * 1000.0)
            ready = phone::discover(address, protocol::kDiscoveryPort, 20).has_value();
        if (!ready) bench::fail("lumacro3 did not answer discovery");
        startMs.push_back(msSince(t0));

        if (run == runs - 1) {
            // Let start-up work (helper servers, timers) settle, then measure idle.
            sleep(2);
            const double cpu0 = cpuSeconds(pid);
            sleep(idleSeconds);
            idleCpuPercent = (cpuSeconds(pid) - cpu0) / idleSeconds * 100.0;
            rss = rssMiB(pid);
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
    std::sort(startMs.begin(), startMs.end());
    std::sort(referenceMs.begin(), referenceMs.end());
    const double median = startMs[startMs.size() / 2];
    const double refMedian = referenceMs[referenceMs.size() / 2];
    std::printf("start-up to listening: median %.0f ms (min %.0f, max %.0f) over %d runs\n", median,
                startMs.front(), startMs.back(), runs);
    std::printf("reference xdpyinfo start: median %.0f ms; ratio %.1f\n", refMedian,
                median / std::max(refMedian, 0.1));
    std::printf("idle over %d s: CPU %.2f %% of a core, RSS %.1f MiB\n", idleSeconds, idleCpuPercent, rss);
    return 0;
}
