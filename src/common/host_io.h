// The host functions a sequence calls. A host on a codec instance may give
// functions with a context pointer; where it gives none for a role, the
// record's own callback serves, which is all a legacy host ever has. The
// choice is made once, at the open, so the writer, the reader and the header
// code simply call through here.
#pragma once
#include <cstdint>

#include "common/status.h"
#include "q32vex_codec.h"

namespace q32vex {

struct HostIo {
    VexIo instance;  // the instance host's functions; null where unset
    VexWriteCallback write;  // the record's, where the instance gave none
    VexReadCallback read;
    VexAppMarkerCallback appMarker;
    VexAppMarkerReadCallback appMarkerRead;
};

inline HostIo BindHostIo(const VexIo& instance, const AppVexParams& record) {
    HostIo io{};
    io.instance = instance;
    if (instance.write == nullptr) io.write = record.writeCallback;
    if (instance.read == nullptr) io.read = record.readCallback;
    if (instance.appMarker == nullptr) io.appMarker = record.appMarkerCallback;
    if (instance.appMarkerRead == nullptr) io.appMarkerRead = record.appMarkerReadCallback;
    return io;
}

inline bool HasWrite(const HostIo& io) { return io.instance.write != nullptr || io.write != nullptr; }
inline bool HasRead(const HostIo& io) { return io.instance.read != nullptr || io.read != nullptr; }
inline bool HasAppMarker(const HostIo& io) {
    return io.instance.appMarker != nullptr || io.appMarker != nullptr;
}
inline bool HasAppMarkerRead(const HostIo& io) {
    return io.instance.appMarkerRead != nullptr || io.appMarkerRead != nullptr;
}

// Each call expects its function to be present (checked with Has... first).
inline Status HostWrite(const HostIo& io, uint8_t** buffer, int32_t position, uint16_t* size) {
    if (io.instance.write != nullptr) return io.instance.write(io.instance.context, buffer, position, size);
    return io.write(buffer, position, size, nullptr);
}

inline Status HostRead(const HostIo& io, uint8_t** data, int32_t position, uint16_t* count,
                       int16_t* endFlag) {
    if (io.instance.read != nullptr) return io.instance.read(io.instance.context, data, position, count, endFlag);
    return io.read(data, position, count, endFlag);
}

inline Status HostAppMarker(const HostIo& io, uint8_t marker, uint16_t* size, uint16_t* bufferLength,
                            uint8_t** data) {
    if (io.instance.appMarker != nullptr)
        return io.instance.appMarker(io.instance.context, marker, size, bufferLength, data);
    return io.appMarker(marker, size, bufferLength, data);
}

inline Status HostAppMarkerRead(const HostIo& io, uint8_t marker, uint16_t info, uint16_t count,
                                uint8_t** data) {
    if (io.instance.appMarkerRead != nullptr)
        return io.instance.appMarkerRead(io.instance.context, marker, info, count, data);
    return io.appMarkerRead(marker, info, count, data);
}

}  // namespace q32vex
