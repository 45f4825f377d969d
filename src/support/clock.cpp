#include "support/clock.h"

#include <chrono>
#include <ctime>

namespace support {

int64_t gettime() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t gettime2() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string getCurrentTime() {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[32];
    // Dots instead of colons so that the text can be part of a file name.
    const size_t n = strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S", &local);
    return std::string(text, n);
}

}  // namespace support
