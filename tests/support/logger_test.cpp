#include "support/logger.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/files.h"
#include "common/temp_dir.h"

using testing_support::TempDir;
using support::Logger;

namespace {

std::vector<std::string> linesOf(const std::string& path) {
    std::string text;
    support::readFile(path, text);
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(Logger, ConcurrentLinesStayWholeAndOrdered) {
    TempDir tmp;
    Logger logger(tmp / "log.txt", true);
    ASSERT_TRUE(logger.ok());
    constexpr int kThreads = 4, kLines = 200;
    const std::string payload(120, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) logger.logout("thread %d line %d %s", t, i, payload.c_str());
        });
    }
    for (auto& th : threads) th.join();

    const auto lines = linesOf(tmp / "log.txt");
    ASSERT_EQ(lines.size(), size_t{kThreads * kLines});
    const std::regex shape(R"(^\d\d:\d\d:\d\d\.\d\d\d thread (\d) line (\d+) x{120}$)");
    int next[kThreads] = {};
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        EXPECT_EQ(std::stoi(m[2]), next[std::stoi(m[1])]++);
    }
}

TEST(Logger, OneLinePerCallOnlyWhenOn) {
    TempDir tmp;
    {
        Logger logger(tmp / "log.txt", false);
        logger.logout("hidden");
        logger.setOn(true);
        logger.logout("has newline\n");
        logger.logout("%s", "");
    }
    Logger again(tmp / "log.txt", true);  // appends
    again.logout("later");
    const auto lines = linesOf(tmp / "log.txt");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(13), "has newline");
    EXPECT_EQ(lines[1].size(), 13u);  // only the time stamp
    EXPECT_EQ(lines[2].substr(13), "later");
}

TEST(Logger, UnopenableFileDropsLines) {
    TempDir tmp;
    Logger logger(tmp / "no/such/folder/log.txt", true);
    EXPECT_FALSE(logger.ok());
    logger.logout("dropped %d", 1);
}

TEST(Logger, ReplacedLoggerStaysUsable) {
    TempDir tmp;
    Logger& before = support::log();
    support::setLogger(std::make_unique<Logger>(tmp / "global.txt", true));
    LOGOUT("to the file %d", 7);
    before.logout("an old reference still works");
    support::setLogger(nullptr);  // ignored
    EXPECT_EQ(support::log().fileName(), tmp / "global.txt");
    support::setLogger(std::make_unique<Logger>("", false));
    LOGOUT("nowhere");
    const auto lines = linesOf(tmp / "global.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(13), "to the file 7");
}
