// Thread-safe printf-style logger: one line per call, to a file or stdout.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <cstdarg>
#include <memory>
#include <string>

namespace support {

class Logger {
public:
    // Empty file name: lines go to standard output. Otherwise they are appended
    // to that file (relative names are relative to the current folder).
    Logger(const std::string& fileName, bool on);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void setOn(bool on) { on_.store(on); }
    bool isOn() const { return on_.load(); }

    // Formats one line; a line feed is added when the text lacks one.
    void logout(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void vlogout(const char* fmt, va_list args);

    // Where lines go ("" = stdout); false when the file could not be opened.
    const std::string& fileName() const { return fileName_; }
    bool ok() const { return out_ != nullptr; }

private:
    std::mutex mutex_;
    std::atomic<bool> on_;
    std::string fileName_;
    FILE* out_ = nullptr;
    bool ownsFile_ = false;
};

// The process-wide logger. Until setLogger is called it is a logger that
// writes to stdout and is off unless LUMACRO3_LOG=1 is set in the environment.
Logger& log();
// Replaces the process-wide logger (the previous one is kept alive until exit,
// so threads that still hold a reference never see a dangling object).
void setLogger(std::unique_ptr<Logger> logger);

}  // namespace support

// Shorthand used across the program.
#define LOGOUT(...) ::support::log().logout(__VA_ARGS__)
