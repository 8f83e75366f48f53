// The peer's encode and decode, each one TurboJPEG call into preallocated
// buffers, so that both sides are timed on the codec alone.
#include "peer_runner.h"

namespace vexbench {

int PeerSubsampling(int sampling) {
    switch (sampling) {
        case 0: return TJSAMP_422;
        case 1: return TJSAMP_420;
        case 2: return TJSAMP_444;
        default: return TJSAMP_GRAY;
    }
}

bool PeerEncode(Peer& peer, const Image& image, int sampling, int quality, int flags) {
    unsigned char* buffer = peer.stream.data();
    peer.streamSize = peer.stream.size();
    return tjCompress2(peer.compressor, image.pixels.data(), image.width, 0, image.height,
                       image.bpp == 1 ? TJPF_GRAY : TJPF_BGR, &buffer, &peer.streamSize,
                       PeerSubsampling(sampling), quality, flags | TJFLAG_NOREALLOC) == 0;
}

bool PeerDecode(Peer& peer, const uint8_t* stream, uint32_t size, Image* out, int flags) {
    return tjDecompress2(peer.decompressor, stream, size, out->pixels.data(), out->width, 0, out->height,
                         out->bpp == 1 ? TJPF_GRAY : TJPF_BGR, flags) == 0;
}

}  // namespace vexbench
