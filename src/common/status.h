// Internal status handling: every operation returns a 16-bit status and the
// first non-zero one travels up unchanged (host callback values included).
#pragma once
#include <cstdint>

#include "q32vex.h"

namespace q32vex {

using Status = int16_t;

}  // namespace q32vex

// Return the status of `expr` from the enclosing function when it is non-zero.
#define Q_TRY(expr)                              \
    do {                                         \
        const ::q32vex::Status q_status_ = (expr); \
        if (q_status_ != 0) return q_status_;    \
    } while (0)
