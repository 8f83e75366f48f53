// The peer: libjpeg-turbo through its TurboJPEG API, on the same images and,
// for decoding, on this library's streams.
#pragma once
#include <turbojpeg.h>

#include <cstdint>
#include <vector>

#include "bench_image.h"

namespace vexbench {

struct Peer {
    tjhandle compressor = tjInitCompress();
    tjhandle decompressor = tjInitDecompress();
    std::vector<uint8_t> stream;
    unsigned long streamSize = 0;
    ~Peer() {
        tjDestroy(compressor);
        tjDestroy(decompressor);
    }
};

// The TurboJPEG subsampling of a case's sampling (see SamplingName).
int PeerSubsampling(int sampling);
// Compresses into peer.stream, which the caller sized with tjBufSize.
bool PeerEncode(Peer& peer, const Image& image, int sampling, int quality, int flags);
// Decompresses into *out, already of the stream's size and pixel size.
bool PeerDecode(Peer& peer, const uint8_t* stream, uint32_t size, Image* out, int flags);

}  // namespace vexbench
