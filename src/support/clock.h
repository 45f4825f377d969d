// Clocks: milliseconds for time-outs, pacing and identities.
#pragma once

#include <cstdint>
#include <string>

namespace support {

// Milliseconds of the wall clock since 1970 (used as a server identity too).
int64_t gettime();
// Milliseconds of a monotonic clock (differences only).
int64_t gettime2();
// Local time as text valid in a file name, e.g. "2026-12-09 14.03.27".
std::string getCurrentTime();

}  // namespace support
