#include "support/logger.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/time.h>
#include <vector>

namespace support {

namespace {

// "HH:MM:SS.mmm " in local time.
std::string timestamp() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    char text[24];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(tv.tv_usec / 1000));
    return text;
}

bool logWantedByEnvironment() {
    const char* value = std::getenv("LUMACRO3_LOG");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// Every logger ever installed stays alive until exit: threads may still hold
// a reference to a replaced one. They are never destroyed, so logging during
// static destruction is safe too.
std::mutex gKeptMutex;
std::vector<Logger*>* gKept = new std::vector<Logger*>;
std::atomic<Logger*> gCurrent{nullptr};

}  // namespace

Logger::Logger(const std::string& fileName, bool on) : on_(on), fileName_(fileName) {
    if (fileName_.empty()) {
        out_ = stdout;
        return;
    }
    out_ = std::fopen(fileName_.c_str(), "ae");  // append, close-on-exec
    ownsFile_ = out_ != nullptr;
}

Logger::~Logger() {
    if (ownsFile_) {
        std::fclose(out_);
    }
}

void Logger::logout(const char* fmt, ...) {
    if (!isOn()) {
        return;
    }
    va_list args;
    va_start(args, fmt);
    vlogout(fmt, args);
    va_end(args);
}

void Logger::vlogout(const char* fmt, va_list args) {
    if (!isOn() || out_ == nullptr || fmt == nullptr) {
        return;
    }
    std::string line = timestamp();
    const size_t prefix = line.size();
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (needed < 0) {
        return;
    }
    line.resize(prefix + static_cast<size_t>(needed) + 1);
    std::vsnprintf(line.data() + prefix, static_cast<size_t>(needed) + 1, fmt, args);
    line.resize(prefix + static_cast<size_t>(needed));
    if (line.back() != '\n') {
        line.push_back('\n');
    }
    // One fwrite per line under the lock keeps lines whole between threads.
    std::lock_guard<std::mutex> guard(mutex_);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

Logger& log() {
    Logger* current = gCurrent.load(std::memory_order_acquire);
    if (current != nullptr) {
        return *current;
    }
    static Logger* const initial = new Logger("", logWantedByEnvironment());
    gCurrent.compare_exchange_strong(current, initial, std::memory_order_acq_rel);
    return *gCurrent.load(std::memory_order_acquire);
}

void setLogger(std::unique_ptr<Logger> logger) {
    if (!logger) {
        return;
    }
    std::lock_guard<std::mutex> guard(gKeptMutex);
    Logger* raw = logger.release();
    gKept->push_back(raw);
    gCurrent.store(raw, std::memory_order_release);
}

}  // namespace support
