// Helpers of the application-shell tests: private folders, a log file to
// inspect, environment overrides.
#pragma once

#include "common/eventually.h"
#include "common/scoped_env.h"
#include "common/temp_dir.h"
#include "support/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace apptest {

namespace fs = std::filesystem;
using namespace testing_support;

inline size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Sends the process-wide log to a file for the life of the object.
class CapturedLog {
public:
    CapturedLog() : path_(dir_ / "log.txt") {
        support::setLogger(std::make_unique<support::Logger>(path_, true));
    }
    ~CapturedLog() { support::setLogger(std::make_unique<support::Logger>("", false)); }
    std::string text() const { return readText(path_); }

private:
    TempDir dir_;
    std::string path_;
};

}  // namespace apptest
