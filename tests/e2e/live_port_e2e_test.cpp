// The live stream service of the running program is reachable on every local
// address, not only on the one the sessions serve.
#include "pc_program.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using e2e::PcProgram;

TEST(LivePort, TheLiveStreamServiceAnswersOnEveryLocalAddress) {
    if (std::system("unshare -n true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no network namespaces here";
    // A network namespace of its own whose only adapter address is
    // 10.9.8.7, so the sessions serve there; the client then asks for the
    // live stream on 127.0.0.1. Exit status: 0 reached, 1 refused, 3 no
    // namespace set-up, 4 the program never answered on 10.9.8.7.
    const std::string phone = std::string(LUMACRO3_BIN_DIR) + "/lumacro3-phone";
    const std::string script =
        "ip link set lo up && ip addr add 10.9.8.7/32 dev lo || exit 3\n"
        "\"$0\" \"$@\" & program=$!\n"
        "result=4\n"
        "for i in $(seq 30); do\n"
        "  if " + phone + " discover --address 10.9.8.7 >/dev/null 2>&1; then result=1; break; fi\n"
        "done\n"
        "if [ $result = 1 ]; then\n"
        "  for i in $(seq 20); do\n"
        "    if " + phone + " live --address 127.0.0.1 --port37374 --seconds 0.2 --out /dev/null; then\n"
        "      result=0; break\n"
        "    fi\n"
        "    sleep 0.1\n"
        "  done\n"
        "fi\n"
        "kill -TERM $program; wait $program\n"
        "exit $result\n";
    PcProgram::Options options;
    options.prefix = {"/usr/bin/unshare", "-n", "/bin/sh", "-c", script};
    options.listenOnAddress = false;
    PcProgram program("10.9.8.7", options);
    EXPECT_EQ(program.wait(100000), 0) << program.log();
}

}  // namespace
