// The one byte writer over the host's output buffers, exchanged through
// writeCallback; also places bytes at earlier stream positions (patches).
#pragma once
#include <cstdint>

#include "common/host_io.h"
#include "common/status.h"

namespace q32vex {

enum StreamMode : int16_t {
    kStreamReserve = 0,
    kStreamFinish = 1,
    kStreamWrite = 2,
    kStreamSkip = 3,
    kStreamReserveAlt = 4,
};

// The host buffer in hand and the host function that exchanges it.
struct StreamBuffer {
    HostIo io;  // set by OpenStream
    uint8_t* hostBuffer;
    uint16_t bufferSize;
    uint16_t bytesFree;
    uint8_t* writePos;
    uint32_t bufferBase;
    uint32_t segmentBytes;
};

// Modes 0, 1, 4: `pointer` is a uint8_t** receiving the write position and
// *count gives bytes to commit / receives bytes free. Mode 2: `pointer` is
// the source, *count the number of bytes. Mode 3: position is an offset.
[[nodiscard]] Status WriteStream(StreamBuffer& out, void* pointer, int32_t position, uint16_t* count,
                                 int16_t mode);
// Appends n bytes at the current position (mode 2 in a loop for any n).
[[nodiscard]] Status WriteBytes(StreamBuffer& out, const uint8_t* data, uint32_t n);
uint32_t StreamPosition(const StreamBuffer& out);
// Starts a stream at position 0 written through `io`; no host buffer is in
// hand until the first write asks for one.
void OpenStream(StreamBuffer& out, const HostIo& io);
// Hands the bytes written into the buffer in hand to the host: the last
// exchange of a stream.
[[nodiscard]] Status HandOverLastBytes(StreamBuffer& out);

}  // namespace q32vex
