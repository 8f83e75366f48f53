// The shared input reader: pulls compressed bytes from the host through
// readCallback and serves them in place, by copy, or by moving the position.
#pragma once
#include <cstdint>

#include "common/host_io.h"
#include "common/status.h"

namespace q32vex {

enum InputMode : int16_t {
    kInputNext = 0,
    kInputCopy = 2,
    kInputSkip = 3,
    kInputLimitNext = 4,
};

// The host buffer in hand, the host function that fills it, and where the
// reader stands in the stream.
struct InputBuffer {
    HostIo io;  // set by ResetInput
    uint8_t* hostData;
    uint16_t hostLength;
    uint16_t bufferRemaining;
    uint8_t* cursor;
    uint32_t basePosition;
    uint32_t segmentLimit;
    uint32_t readAhead;
    uint32_t readHint;
    // Bytes skipped in front of a marker that were no part of any segment
    // (junk a broken writer left between segments, data left over before a
    // restart marker or the end of image), counted by the readers that
    // tolerate them; fill bytes (0xFF in front of a marker, allowed by ITU-T
    // T.81) are not counted. Zero after ResetInput.
    uint32_t skippedBytes;
};

constexpr uint32_t kUntiledSegmentLimit = 268435455;  // 2^28 - 1

// Resets the reader for a stream opened at position 0 and read through `read`.
void ResetInput(InputBuffer& in, const HostIo& io);
// `flag` points at the mode word on entry; in the next-chunk modes it receives
// the end-of-data flag.
[[nodiscard]] Status ReadInput(InputBuffer& in, void* data, int32_t position, uint16_t* count, int16_t* flag);
uint32_t InputPosition(const InputBuffer& in);
// Bytes a move to `target` reads on through before reaching it: the distance
// from the end of the buffered bytes when the target lies a short way
// beyond them, else 0 (the target is buffered, or the host is asked for it).
uint32_t StepBeforeTarget(const InputBuffer& in, uint32_t target);

}  // namespace q32vex
