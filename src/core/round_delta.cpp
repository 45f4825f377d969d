#include "core/round_delta.h"

#include <cmath>
#include <limits>

namespace core {

int roundDelta(float value) {
    if (std::isnan(value))
        return 0;
    // Out-of-range values saturate instead of overflowing the conversion.
    if (value >= 2147483648.0f)
        return std::numeric_limits<int>::max();
    if (value <= -2147483648.0f)
        return std::numeric_limits<int>::min();
    int whole = static_cast<int>(value);
    if (static_cast<double>(value) - whole >= 0.5)
        ++whole;
    return whole;
}

}  // namespace core
