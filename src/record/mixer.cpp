#include "record/mixer.h"

#include <algorithm>
#include <cstring>

namespace record {

size_t mixInto(support::MyBuffer& loopback, support::MyBuffer& mic, support::MyBuffer& out) {
    size_t n = std::min(loopback.getLen(), mic.getLen());
    n -= n % 2;
    if (n == 0) return 0;
    uint8_t* a = loopback.getBuffer();
    const uint8_t* b = mic.getBuffer();
    for (size_t i = 0; i < n; i += 2) {
        int16_t l, m;
        std::memcpy(&l, a + i, 2);
        std::memcpy(&m, b + i, 2);
        const int16_t mixed = mixSample(l, m);
        std::memcpy(a + i, &mixed, 2);
    }
    out.appendBuffer(a, n);
    loopback.eraseData(n);
    mic.eraseData(n);
    return n;
}

}  // namespace record
