// The shared input reader: every byte of compressed input enters here, from the
// host's readCallback, and leaves in place, by copy, or as a move of the read
// position. It is the one place that checks reads against what the host lent us.
#include "decode/input_reader.h"

#include <algorithm>
#include <cstring>


namespace q32vex {

namespace {

constexpr uint32_t kMaxRequest = 65535;  // a host buffer length is 16 bits
// A forward move shorter than this reads on sequentially and skips, which is
// cheaper for hosts that stream than asking for a random-access read.
constexpr uint32_t kNearSkip = 512;

uint16_t RequestSize(uint64_t wanted) {
    return uint16_t(std::min<uint64_t>(wanted, kMaxRequest));
}

// One callback for `length` bytes at `position` (-1: right after the buffered
// range). A host that hands back a null buffer has delivered nothing, whatever
// length it reports, so that no later move can point into null.
Status CallHost(InputBuffer& in, int32_t position, uint16_t length, int16_t* flag) {
    if (!HasRead(in.io)) return VEX_ERR_NO_CALLBACK;
    in.hostLength = length;
    const Status status = HostRead(in.io, &in.hostData, position, &in.hostLength, flag);
    if (in.hostData == nullptr) in.hostLength = 0;
    return status;
}

// After a failed refill nothing of the host's buffer is left to hand out.
Status DropBuffer(InputBuffer& in, Status status) {
    in.bufferRemaining = 0;
    in.cursor = in.hostData == nullptr ? nullptr : in.hostData + in.hostLength;
    return status;
}

Status NextChunk(InputBuffer& in, uint8_t** data, uint16_t* count, int16_t* flag) {
    if (in.bufferRemaining > 0) {
        const uint16_t n = uint16_t(std::min<uint32_t>(in.bufferRemaining, in.segmentLimit));
        *data = in.cursor;
        *count = n;
        *flag = in.segmentLimit == n ? 1 : 0;
        in.segmentLimit -= n;
        in.bufferRemaining = uint16_t(in.bufferRemaining - n);
        in.cursor += n;
        return 0;
    }
    in.basePosition += in.hostLength;
    *flag = 0;
    const Status status =
        CallHost(in, -1, RequestSize(uint64_t(in.segmentLimit) + in.readAhead), flag);
    if (status != 0) return DropBuffer(in, status);
    // Any non-zero word from the host means "nothing follows".
    *flag = *flag != 0 ? 1 : 0;
    if (in.hostLength == 0) {
        if (*flag != 0) return DropBuffer(in, VEX_ERR_NO_BUFFER);
        *flag = 1;
    }
    const uint16_t n = uint16_t(std::min<uint32_t>(in.hostLength, in.segmentLimit));
    *data = in.hostData;
    *count = n;
    in.bufferRemaining = uint16_t(in.hostLength - n);
    in.cursor = in.hostData == nullptr ? nullptr : in.hostData + n;
    in.segmentLimit -= n;
    return 0;
}

bool IsNearStep(uint32_t target, uint32_t end) { return target >= end && target - end < kNearSkip; }

// Moves the read position to `target` for the copy and skip modes; `copyCount`
// and `hint` size the request when a new buffer is needed.
Status Position(InputBuffer& in, uint32_t target, uint16_t copyCount, uint32_t hint) {
    const uint32_t end = in.basePosition + in.hostLength;
    int16_t privateFlag = 0;
    if (target >= in.basePosition && target < end) {
        const uint16_t offset = uint16_t(target - in.basePosition);
        in.cursor = in.hostData + offset;
        in.bufferRemaining = uint16_t(in.hostLength - offset);
        return 0;
    }
    if (IsNearStep(target, end)) {
        const uint32_t skip = target - end;
        in.basePosition = end;
        const Status status = CallHost(in, -1, RequestSize(uint64_t(copyCount) + hint), &privateFlag);
        if (status != 0) return DropBuffer(in, status);
        if (in.hostLength == 0 || in.hostLength < skip) return DropBuffer(in, VEX_ERR_NO_BUFFER);
        in.bufferRemaining = uint16_t(in.hostLength - skip);
        in.cursor = in.hostData + skip;
        return 0;
    }
    in.basePosition = target;
    const Status status =
        CallHost(in, int32_t(target), RequestSize(uint64_t(copyCount) + hint), &privateFlag);
    if (status != 0) return DropBuffer(in, status);
    if (in.hostLength == 0) return DropBuffer(in, VEX_ERR_NO_BUFFER);
    in.cursor = in.hostData;
    in.bufferRemaining = in.hostLength;
    return 0;
}

Status Copy(InputBuffer& in, uint8_t* destination, uint16_t count, uint32_t hint) {
    uint32_t remaining = count;
    while (remaining > 0) {
        if (in.bufferRemaining == 0) {
            in.basePosition += in.hostLength;
            int16_t privateFlag = 0;
            const Status status =
                CallHost(in, -1, RequestSize(uint64_t(remaining) + hint), &privateFlag);
            if (status != 0) return DropBuffer(in, status);
            if (in.hostLength == 0) return DropBuffer(in, VEX_ERR_NO_BUFFER);
            in.cursor = in.hostData;
            in.bufferRemaining = in.hostLength;
        }
        const uint16_t n = uint16_t(std::min<uint32_t>(in.bufferRemaining, remaining));
        std::memcpy(destination, in.cursor, n);
        destination += n;
        in.cursor += n;
        in.bufferRemaining = uint16_t(in.bufferRemaining - n);
        remaining -= n;
    }
    return 0;
}

}  // namespace

void ResetInput(InputBuffer& in, const HostIo& io) {
    in.io = io;
    in.hostData = nullptr;
    in.cursor = nullptr;
    in.basePosition = 0;
    in.hostLength = 0;
    in.bufferRemaining = 0;
    in.readHint = kMaxRequest;
    in.skippedBytes = 0;
}

uint32_t StepBeforeTarget(const InputBuffer& in, uint32_t target) {
    const uint32_t end = in.basePosition + in.hostLength;
    return IsNearStep(target, end) ? target - end : 0;
}

uint32_t InputPosition(const InputBuffer& in) {
    return in.basePosition + in.hostLength - in.bufferRemaining;
}

Status ReadInput(InputBuffer& in, void* data, int32_t position, uint16_t* count, int16_t* flag) {
    if (flag == nullptr) return VEX_ERR_IO_REQUEST;
    const uint16_t mode = uint16_t(*flag);
    if (mode > kInputLimitNext || mode == 1) return VEX_ERR_IO_REQUEST;

    const uint32_t hint = in.readHint;
    in.readHint = kMaxRequest;

    if (mode == kInputNext || mode == kInputLimitNext) {
        if (data == nullptr || count == nullptr) return VEX_ERR_IO_REQUEST;
        if (mode == kInputLimitNext) {
            in.segmentLimit = *count;
            in.readAhead = hint;
        }
        return NextChunk(in, static_cast<uint8_t**>(data), count, flag);
    }

    // Copy and skip. Targets outside 0..2^31-1 cannot be named to the host
    // (its position argument is signed, -1 meaning "continue"): refused.
    const uint16_t copyCount = mode == kInputCopy && count != nullptr ? *count : 0;
    if (mode == kInputCopy && copyCount > 0 && data == nullptr) return VEX_ERR_IO_REQUEST;
    bool positioned = true;
    int64_t target = 0;
    if (mode == kInputCopy) {
        positioned = position != -1;
        target = position;
    } else {
        target = int64_t(InputPosition(in)) + position;
    }
    if (positioned) {
        if (target < 0 || target > INT32_MAX) return VEX_ERR_IO_REQUEST;
        Q_TRY(Position(in, uint32_t(target), copyCount, hint));
    }
    if (mode == kInputCopy) Q_TRY(Copy(in, static_cast<uint8_t*>(data), copyCount, hint));
    return 0;
}

}  // namespace q32vex
