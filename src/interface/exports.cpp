// The exports that act on codec state. The legacy interface has no handles:
// the library keeps exactly one codec instance, this one, static and zero at
// load, and these exports are the only code that names it; everything below
// them takes the instance, or the parts of it a stage works on, as arguments.
#include "interface/codec.h"
#include "interface/compress_sequence.h"
#include "interface/decompress_sequence.h"

namespace {

q32vex::Codec legacyCodec;

}  // namespace

extern "C" {

VEXEXPORT int16_t VEXAPI AppVexQuerySupport(int32_t direction, const AppVexParams* params) {
    return q32vex::QuerySupport(legacyCodec, direction, params);
}

VEXEXPORT int16_t VEXAPI AppVexCompressBuffInit(AppVexParams* params) {
    return q32vex::OpenCompression(legacyCodec, params);
}

VEXEXPORT int16_t VEXAPI AppVexCompressBuff(uint8_t** rows, BandRect* next) {
    return q32vex::CompressBand(legacyCodec, rows, next);
}

VEXEXPORT int16_t VEXAPI AppVexGetCompInfo(AppVexParams* params) {
    return q32vex::ReadStreamInfo(legacyCodec, params);
}

VEXEXPORT int16_t VEXAPI AppVexDecompressBuffInit(AppVexParams* params) {
    return q32vex::OpenDecompression(legacyCodec, params);
}

VEXEXPORT int16_t VEXAPI AppVexDecompressBuff(uint8_t** rows, BandRect* filled) {
    return q32vex::DecompressBand(legacyCodec, rows, filled);
}

VEXEXPORT int16_t VEXAPI AppVexAbort(void) { return q32vex::AbortSequence(legacyCodec); }

VEXEXPORT int16_t VEXAPI AppVexDeallocate(void) { return q32vex::ReleaseCodecMemory(legacyCodec); }

}  // extern "C"
