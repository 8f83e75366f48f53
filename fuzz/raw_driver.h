// Raw entropy-data driver: the fuzz input supplies geometry, sampling, restart
// interval and (optionally) every quantisation and Huffman table. A bare
// stream carries no tables, so the driver loads them the only way a host can:
// it reads a small JPEG header holding them, then opens container kind 0 on
// the entropy bytes that follow the options.
#pragma once
#include <string>
#include <vector>

#include "decode_driver.h"

namespace vexfuzz {

constexpr size_t kRawOptionBytes = 12;  // after the decode options

// A Huffman table definition from fuzz bytes: counts squeezed into the symbol
// budget of the class, then that many symbol bytes.
inline std::vector<uint8_t> FuzzedHuffmanSpec(OptionReader& in, bool ac) {
    const int budget = ac ? 162 : 12;
    std::vector<uint8_t> spec(ac ? 178 : 80, 0);
    int sum = 0;
    for (int i = 0; i < 16; ++i) {
        int count = in.U8() & (ac ? 0x3F : 0x07);
        if (sum + count > budget) count = budget - sum;
        spec[size_t(i)] = uint8_t(count);
        sum += count;
    }
    for (int i = 0; i < sum; ++i) spec[size_t(16 + i)] = ac ? in.U8() : uint8_t(in.U8() & 0x0F);
    return spec;
}

inline size_t SpecSize(const uint8_t* spec) {
    size_t n = 16;
    for (int i = 0; i < 16; ++i) n += spec[i];
    return n;
}

inline void PutSegment(std::vector<uint8_t>* out, uint8_t marker, const std::vector<uint8_t>& body) {
    out->push_back(0xFF);
    out->push_back(marker);
    out->push_back(uint8_t((body.size() + 2) >> 8));
    out->push_back(uint8_t(body.size() + 2));
    out->insert(out->end(), body.begin(), body.end());
}

struct RawTables {
    std::vector<uint8_t> q[4];
    std::vector<uint8_t> dc[3];  // component 0, components 1.., a third one
    std::vector<uint8_t> ac[3];
};

inline std::vector<uint8_t> BuildHeader(const RawTables& t, uint16_t width, uint16_t height,
                                        const SamplingDesc& s, int components,
                                        uint16_t restart) {
    std::vector<uint8_t> h = {0xFF, 0xD8};
    std::vector<uint8_t> body;
    for (int i = 0; i < components; ++i) {
        body.push_back(uint8_t(i));
        body.insert(body.end(), t.q[i].begin(), t.q[i].begin() + 64);
    }
    PutSegment(&h, 0xDB, body);
    body.clear();
    for (int cls = 0; cls < 2; ++cls) {
        for (int id = 0; id < (components > 1 ? 2 : 1); ++id) {
            const std::vector<uint8_t>& spec = cls == 0 ? t.dc[id] : t.ac[id];
            body.push_back(uint8_t(cls << 4 | id));
            body.insert(body.end(), spec.begin(), spec.begin() + long(SpecSize(spec.data())));
        }
    }
    PutSegment(&h, 0xC4, body);
    body = {8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width),
            uint8_t(components)};
    for (int i = 0; i < components; ++i) {
        body.push_back(uint8_t(i + 1));
        body.push_back(uint8_t((s.h[i] & 15) << 4 | (s.v[i] & 15)));
        body.push_back(uint8_t(i));
    }
    PutSegment(&h, 0xC0, body);
    if (restart != 0) PutSegment(&h, 0xDD, {uint8_t(restart >> 8), uint8_t(restart)});
    body = {uint8_t(components)};
    for (int i = 0; i < components; ++i) {
        body.push_back(uint8_t(i + 1));
        body.push_back(i == 0 ? 0x00 : 0x11);
    }
    body.push_back(0);
    body.push_back(63);
    body.push_back(0);
    PutSegment(&h, 0xDA, body);
    return h;
}

inline std::string RunRawEntropy(const uint8_t* data, size_t size) {
    OptionReader in(data, size);
    const DecodeOptions o = ReadDecodeOptions(in);
    const size_t start = in.pos;
    const int samplingIndex = in.U8() % 7;
    const uint8_t flags = in.U8();
    uint16_t width = in.U16(), height = in.U16();
    const uint16_t restart = in.U16();
    const uint16_t tileWidth = in.U16(), tileHeight = in.U16();
    in.pos = start + kRawOptionBytes;
    if (width == 0) width = 1;
    if (height == 0) height = 1;
    if (uint64_t(width) * height > kMaxDecodePixels) {
        width = uint16_t(1 + width % 256);
        height = uint16_t(1 + height % 256);
    }

    int16_t colorSpace = 0;
    const SamplingDesc sampling = SamplingByIndex(samplingIndex, &colorSpace);
    const int components = colorSpace == 1 ? 1 : colorSpace == 3 ? 4 : 3;
    const uint8_t *const *dq = nullptr, *const *ddc = nullptr, *const *dac = nullptr;
    if (AppVexGetDefaultTables(0, &dq, &ddc, &dac) != 0) return "default tables unavailable";
    RawTables t;
    for (int i = 0; i < 4; ++i) {
        if (flags & 1) {
            t.q[i] = in.Bytes(64);
            for (uint8_t& v : t.q[i]) v = v ? v : 1;  // a zero entry is refused early
        } else {
            t.q[i].assign(dq[i < 1 ? 0 : 1], dq[i < 1 ? 0 : 1] + 64);
        }
    }
    for (int i = 0; i < 3; ++i) {
        const int d = i == 0 ? 0 : 1;
        t.dc[i] = (flags & 2) ? FuzzedHuffmanSpec(in, false)
                              : std::vector<uint8_t>(ddc[d], ddc[d] + 80);
        t.ac[i] = (flags & 4) ? FuzzedHuffmanSpec(in, true)
                              : std::vector<uint8_t>(dac[d], dac[d] + 178);
    }
    // Components 2 and 3 take their Huffman tables from the host's record;
    // by default they share component 1's, optionally a third distinct one.
    const int third = (flags & 8) ? 2 : 1;

    const std::vector<uint8_t> header = BuildHeader(t, width, height, sampling, components, restart);
    StreamHost host;
    host.data = header.data();
    host.size = uint32_t(header.size());
    CurrentStream() = &host;
    AppVexParams p;
    AppVexSetDefaultDecompress(&p);
    p.readCallback = HostRead;
    const int16_t s = AppVexGetCompInfo(&p);
    CurrentStream() = nullptr;
    std::string f;
    if (!IsExpectedStatus(s)) {
        f = "unknown status from AppVexGetCompInfo";
    } else if (s == 0) {
        p.containerKind = VEX_CONTAINER_RAW;
        p.restartInterval = restart;
        if (flags & 16) {
            p.tileWidth = tileWidth;
            p.tileHeight = tileHeight;
        }
        for (int i = 2; i < 4; ++i) {
            p.dcTables[i] = t.dc[third].data();
            p.acTables[i] = t.ac[third].data();
        }
        f = DecodeTwice(in.Rest(), in.RestSize(), p, o);
    }
    const std::string leak = CloseAndCheckLeaks();
    return f.empty() ? leak : f;
}

}  // namespace vexfuzz
