// The rounding rule for the phone's pointer deltas, shared by the dispatcher
// (spotlight moves) and the input handlers (pointer moves).
#pragma once

namespace core {

// Truncates toward zero, then adds 1 when the rest is at least 0.5 (negative
// values are only truncated). NaN gives 0; out-of-range values saturate.
int roundDelta(float value);

}  // namespace core
