// Mixing the PC's playback sound with its microphone: both 44,100 Hz stereo
// signed 16-bit, sample by sample, each at half level.
#pragma once

#include "support/buffer.h"

#include <cstddef>
#include <cstdint>

namespace record {

// Mixes the first min(loopback, mic) bytes (whole samples) of both buffers
// into `out`, removes them from both and returns the count. What is left in
// the longer buffer waits for the other source.
size_t mixInto(support::MyBuffer& loopback, support::MyBuffer& mic, support::MyBuffer& out);

// One sample pair: each half rounded toward zero, then added.
inline int16_t mixSample(int16_t loopback, int16_t mic) {
    return int16_t(mic / 2 + loopback / 2);
}

}  // namespace record
