// The one byte writer over the host's output buffers: bytes go straight into
// the buffer the host lent, a full one is exchanged through writeCallback,
// and a patch at an earlier position asks the host for a buffer placed there.
#include "encode/stream_writer.h"

#include <cstring>


namespace q32vex {
namespace {

uint32_t CurrentPosition(const StreamBuffer& out) {
    return out.bufferBase + out.bufferSize - out.bytesFree;
}

Status CallHost(StreamBuffer& out, int32_t position) {
    if (!HasWrite(out.io)) return VEX_ERR_NO_CALLBACK;
    return HostWrite(out.io, &out.hostBuffer, position, &out.bufferSize);
}

// Hands over the full buffer and takes the next one, placed right after it.
Status NextBuffer(StreamBuffer& out) {
    out.bufferBase += out.bufferSize;
    Q_TRY(CallHost(out, -1));
    if (out.hostBuffer == nullptr || out.bufferSize == 0) return VEX_ERR_NO_BUFFER;
    out.bytesFree = out.bufferSize;
    out.writePos = out.hostBuffer;
    return 0;
}

// Reserve/finish: commit the bytes the caller wrote at writePos, then tell
// it where the next byte goes and how many fit.
Status Reserve(StreamBuffer& out, uint8_t** pointer, uint16_t* count) {
    if (*count != 0) {
        if (*count > out.bytesFree) return VEX_ERR_IO_REQUEST;
        out.segmentBytes += *count;
        out.bytesFree = uint16_t(out.bytesFree - *count);
        out.writePos += *count;
    }
    if (out.bytesFree == 0) Q_TRY(NextBuffer(out));
    *pointer = out.writePos;
    *count = out.bytesFree;
    return 0;
}

// Copy at a stream position: inside the buffer in hand directly, otherwise
// after handing over what it holds and asking the host for a buffer there.
Status WriteAt(StreamBuffer& out, const uint8_t* source, uint32_t position, uint16_t n) {
    if (position >= out.bufferBase && position - out.bufferBase < out.bufferSize) {
        out.writePos = out.hostBuffer + (position - out.bufferBase);
    } else {
        const bool append = position == out.bufferBase + out.bufferSize;
        const uint16_t used = uint16_t(out.bufferSize - out.bytesFree);
        if (used > 0) {
            out.bufferSize = used;
            Q_TRY(CallHost(out, -1));
        }
        // The buffer the host just returned goes back unused (size 0).
        out.bufferSize = 0;
        Q_TRY(CallHost(out, append ? -1 : int32_t(position)));
        if (out.hostBuffer == nullptr || out.bufferSize == 0) return VEX_ERR_NO_BUFFER;
        out.bytesFree = out.bufferSize;
        out.bufferBase = position;
        out.writePos = out.hostBuffer;
    }
    uint32_t remaining = n;
    while (remaining > 0) {
        uint8_t* const end = out.hostBuffer + out.bufferSize;
        if (out.writePos == end) {
            Q_TRY(NextBuffer(out));
            position = out.bufferBase;
            continue;
        }
        const uint32_t room = uint32_t(end - out.writePos);
        const uint32_t chunk = remaining < room ? remaining : room;
        std::memcpy(out.writePos, source, chunk);
        // bytesFree tracks the furthest byte written, so a patch inside
        // the buffer leaves the end of the stream where it was.
        const uint32_t offset = uint32_t(out.writePos - out.hostBuffer);
        out.writePos += chunk;
        const uint32_t freeAfter = out.bufferSize - offset - chunk;
        if (freeAfter < out.bytesFree) out.bytesFree = uint16_t(freeAfter);
        source += chunk;
        remaining -= chunk;
    }
    return 0;
}

}  // namespace

Status WriteStream(StreamBuffer& out, void* pointer, int32_t position, uint16_t* count, int16_t mode) {
    switch (mode) {
        case kStreamReserve:
        case kStreamFinish:
        case kStreamReserveAlt:
            return Reserve(out, static_cast<uint8_t**>(pointer), count);
        case kStreamWrite: {
            const uint32_t current = CurrentPosition(out);
            // Bytes go at the end or over bytes already written; a write
            // beyond the end would leave a gap of whatever the host's buffer
            // held, so it is refused.
            if (position < -1) return VEX_ERR_IO_REQUEST;
            const uint32_t at = position == -1 ? current : uint32_t(position);
            if (at > current) return VEX_ERR_IO_REQUEST;
            return WriteAt(out, static_cast<const uint8_t*>(pointer), at, *count);
        }
        default:
            // Skipping (mode 3) could move the write position without
            // accounting for the bytes passed over; nothing needs it.
            return VEX_ERR_IO_REQUEST;
    }
}

Status WriteBytes(StreamBuffer& out, const uint8_t* data, uint32_t n) {
    while (n > 0) {
        uint16_t chunk = uint16_t(n > 65535 ? 65535 : n);
        const uint16_t taken = chunk;
        Q_TRY(WriteStream(out, const_cast<uint8_t*>(data), -1, &chunk, kStreamWrite));
        data += taken;
        n -= taken;
    }
    return 0;
}

uint32_t StreamPosition(const StreamBuffer& out) { return CurrentPosition(out); }

void OpenStream(StreamBuffer& out, const HostIo& io) {
    out = StreamBuffer{};
    out.io = io;
}

Status HandOverLastBytes(StreamBuffer& out) {
    out.bufferSize = uint16_t(out.bufferSize - out.bytesFree);
    return CallHost(out, -1);
}

}  // namespace q32vex
