// The program's log lines written while a capture lives. The logger writes to
// one temporary file for the whole test run (removed at exit).
#pragma once

#include "support/logger.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace testing_support {

class LogCapture {
public:
    LogCapture() : start_(std::ifstream(path(), std::ios::ate).tellg()) {}
    std::string text() const {
        std::ifstream in(path());
        in.seekg(start_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // How often `needle` stands in the captured lines.
    size_t count(const std::string& needle) const {
        const std::string t = text();
        size_t n = 0;
        for (size_t at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1)) ++n;
        return n;
    }

private:
    static const std::string& path() {
        static const std::string name = [] {
            std::string p = "/tmp/lumacro3_test_log_" + std::to_string(::getpid()) + ".log";
            support::setLogger(std::make_unique<support::Logger>(p, true));
            std::atexit([] { std::remove(path().c_str()); });
            return p;
        }();
        return name;
    }
    std::streamoff start_;
};

}  // namespace testing_support
