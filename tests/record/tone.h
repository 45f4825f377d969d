// Sound checks for tests: a sine tone in 44.1 kHz stereo 16-bit, its level,
// and the strength of one frequency in a signal (Goertzel).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace testing_support {

// Interleaved stereo 16-bit sine of `frequency` Hz; `phase` carries on
// between calls.
inline void sineStereo16(int16_t* out, size_t frames, double frequency, double& phase,
                         double amplitude = 0.5, int rate = 44100) {
    const double step = 2 * M_PI * frequency / rate;
    for (size_t i = 0; i < frames; ++i) {
        const auto v = int16_t(std::lround(std::sin(phase) * amplitude * 32767));
        out[2 * i] = v;
        out[2 * i + 1] = v;
        phase += step;
        if (phase > 2 * M_PI) phase -= 2 * M_PI;
    }
}

inline double rms(const std::vector<double>& x) {
    double s = 0;
    for (double v : x) s += v * v;
    return x.empty() ? 0 : std::sqrt(s / double(x.size()));
}

// Amplitude of `frequency` in `x` (sampled at `rate`), as a fraction of full scale.
inline double toneLevel(const std::vector<double>& x, double frequency, int rate) {
    if (x.empty()) return 0;
    const double w = 2 * M_PI * frequency / rate;
    double re = 0, im = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        re += x[i] * std::cos(w * double(i));
        im -= x[i] * std::sin(w * double(i));
    }
    return 2 * std::sqrt(re * re + im * im) / double(x.size());
}

// Left channel of interleaved 16-bit stereo as fractions of full scale.
inline std::vector<double> leftOf16(const uint8_t* pcm, size_t bytes) {
    std::vector<double> x;
    x.reserve(bytes / 4);
    for (size_t i = 0; i + 4 <= bytes; i += 4) {
        int16_t v;
        std::memcpy(&v, pcm + i, 2);
        x.push_back(v / 32768.0);
    }
    return x;
}

}  // namespace testing_support
