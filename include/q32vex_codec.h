/*
 * q32vex codec instances: the library's sequences on handles of their own.
 *
 * A VexCodec holds everything one compression or decompression sequence
 * works on, plus the table slots, tile arrays and derived tables it keeps
 * between sequences. Instances share nothing that changes, so any number of
 * them may run at once, one per thread (one instance is not to be used by two
 * threads at the same time). The AppVex... exports of q32vex.h are the same
 * operations on one instance the library owns; a host that uses VexCodec
 * handles never disturbs them, nor they it.
 *
 * The functions take the same AppVexParams record and follow the same rules,
 * statuses and band walk as their AppVex... counterparts. Two things differ:
 *  - The host's functions may carry a context pointer (VexIo). Where the
 *    VexIo given to VexCodecSetIo has a function, it is called instead of the
 *    record's callback of the same role; where it has none, the record's
 *    callback is used, as the legacy exports do.
 *  - One-call forms run a whole sequence between memory buffers.
 *
 * Calling convention: the platform's default C convention, on every target.
 */
#ifndef Q32VEX_CODEC_H
#define Q32VEX_CODEC_H

#include "q32vex.h"

/* The Windows DLL is the legacy library and exports the AppVex... names
 * only; on Windows these functions are linked statically (q32vex_static). */
#if defined(_WIN32)
#define VEXCODECAPI
#else
#define VEXCODECAPI VEXEXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VexCodec VexCodec;

/* The four host functions, each with the context pointer of the VexIo. Their
 * other arguments mean what those of VexWriteCallback, VexReadCallback,
 * VexAppMarkerCallback and VexAppMarkerReadCallback mean. */
typedef int16_t (*VexWriteFn)(void *context, uint8_t **buffer, int32_t position, uint16_t *size);
typedef int16_t (*VexReadFn)(void *context, uint8_t **data, int32_t position, uint16_t *count,
                             int16_t *endFlag);
typedef int16_t (*VexAppMarkerFn)(void *context, uint8_t marker, uint16_t *size,
                                  uint16_t *bufferLength, uint8_t **data);
typedef int16_t (*VexAppMarkerReadFn)(void *context, uint8_t marker, uint16_t info, uint16_t count,
                                      uint8_t **data);

typedef struct VexIo {
    void *context;
    VexWriteFn write;
    VexReadFn read;
    VexAppMarkerFn appMarker;
    VexAppMarkerReadFn appMarkerRead;
} VexIo;

/* A new instance, as the library is when freshly loaded; NULL when out of
 * memory. Destroying releases everything it holds, an open sequence
 * included. */
VEXCODECAPI VexCodec *VexCodecCreate(void);
VEXCODECAPI void VexCodecDestroy(VexCodec *codec);

/* The host functions used by the sequences opened from now on; NULL clears
 * them (the record's callbacks serve again). The VexIo is copied. */
VEXCODECAPI void VexCodecSetIo(VexCodec *codec, const VexIo *io);

/* Behaviour beyond the legacy library's, chosen per instance; every option
 * is off in a new instance, which then behaves exactly as the AppVex...
 * exports do. Options take effect at the next open. */
enum {
    /* Colour output clamps every channel to 0..255. Off, decoded colours far
     * outside the YCbCr gamut wrap around as the legacy library's do (a
     * saturated red next to white may come out black). */
    VEX_OPTION_SATURATING_COLOUR = 1,
    /* Progressive JPEG files (SOF2, 8-bit, Huffman coding) are read and
     * decoded. Off, they are refused with VEX_ERR_CONTAINER as the legacy
     * library refuses them. The whole frame's coefficients are held in
     * memory, 128 bytes per 8x8 block (about 3 bytes per pixel for 4:2:0,
     * 6 for 4:4:4), within the budget below. */
    VEX_OPTION_PROGRESSIVE = 2,
    /* The most a progressive frame, or a sequential one read through the
     * same store (below), may take, coefficients and a copy of its scans, in
     * MiB (value 1 to 4095; 1024 in a new instance). A frame that needs more
     * is refused with VEX_ERR_IMAGE_SIZE before its store is allocated or its
     * scans read (a frame whose height a DNL segment gives is read up to that
     * segment first); VexCodecProgressiveBytes tells what it needs. */
    VEX_OPTION_PROGRESSIVE_BUDGET = 3,
    /* Sequential frames beyond what the legacy library reads: any sampling
     * factors, several scans per frame, extended sequential frames (SOF1)
     * with 8-bit samples and up to four Huffman tables of each class, a
     * height given by a DNL segment, fill bytes and junk between segments,
     * Adobe and RGB colour transforms, and damaged streams read as far as
     * they go. Frames in several scans, on Huffman tables 2 and 3 or with a
     * DNL height are decoded into a coefficient store as progressive ones
     * are, within the budget below. Off, such files are refused with the
     * codes the AppVex... exports give. */
    VEX_OPTION_EXTENDED_FRAMES = 4,
    /* With VEX_OPTION_EXTENDED_FRAMES: a YCCK frame decoded to four channels
     * comes out as its components are coded (Y, Cb, Cr, K) instead of as
     * CMYK. Off, as libjpeg gives it by default: CMYK. */
    VEX_OPTION_RAW_COMPONENTS = 5
};
/* Sets option `option` to `value` (0 off, 1 on); VEX_ERR_UNSUPPORTED for an
 * option or value this library does not know, VEX_ERR_BUSY while a sequence
 * is open. */
VEXCODECAPI int16_t VexCodecSetOption(VexCodec *codec, int option, int value);
/* The bytes of coefficient store the progressive frame last met by
 * VexReadInfo or an open on this instance needs (0 when none was met). */
VEXCODECAPI uint64_t VexCodecProgressiveBytes(const VexCodec *codec);

/* What the last decode on an instance met in a damaged stream. Instances
 * with VEX_OPTION_EXTENDED_FRAMES read a damaged stream as far as it goes and
 * still deliver the whole picture: MCUs past the end of the data, or past a
 * code that no Huffman table holds, come out a flat grey up to the next
 * restart marker, and restart markers out of order are resynchronised on.
 * The report is cleared by every VexReadInfo and VexDecompressOpen (and the
 * one-call forms) and is complete once the last band is decoded. Instances
 * without the option read as the legacy library does and report nothing. */
enum {
    /* The data ran out inside MCU dataEndedAtMcu (or the first MCU after a
     * lost interval had none). */
    VEX_DAMAGE_DATA_ENDED = 1,
    /* A code that no Huffman table holds, first in MCU corruptAtMcu. */
    VEX_DAMAGE_CORRUPT_DATA = 2,
    /* restartFaults restart markers were missing or out of order. */
    VEX_DAMAGE_RESTART = 4,
    /* The stream ended without its end-of-image marker. */
    VEX_DAMAGE_NO_END_MARKER = 8,
    /* skippedBytes bytes in front of markers belonged to no segment. */
    VEX_DAMAGE_SKIPPED_BYTES = 16
};
typedef struct VexDecodeReport {
    uint32_t damage; /* VEX_DAMAGE_... bits; 0 for an intact stream */
    /* MCUs count in decoding order from 0 (rows of MCUs, left to right). */
    uint32_t dataEndedAtMcu;
    uint32_t corruptAtMcu;
    uint32_t restartFaults;
    uint32_t skippedBytes;
} VexDecodeReport;
VEXCODECAPI int16_t VexCodecDecodeReport(const VexCodec *codec, VexDecodeReport *report);
/* What the components of the frame last met by VexReadInfo or an open on
 * this instance are, read as libjpeg reads them: a JFIF segment means YCbCr;
 * else the transform of an Adobe APP14 segment (0: RGB for three components,
 * CMYK for four; 1: YCbCr; 2: YCCK); else component identifiers 'R', 'G',
 * 'B' mean RGB; three components are YCbCr and four CMYK otherwise (and
 * always in TIFF files). VEX_FRAME_NONE when no frame was met.
 *
 * With VEX_OPTION_EXTENDED_FRAMES, an open decodes every one of these:
 *  - grey frames to grey bytes, or to grey in any three-channel format;
 *  - YCbCr and RGB frames to the three-channel formats (RGB is taken as it
 *    is, without a colour transform);
 *  - CMYK and YCCK frames to four channels as CMYK, stored inverted as
 *    Adobe's applications write it (255 is no ink: the bytes djpeg gives), or
 *    to a three-channel format as the light the inks let through
 *    (red = C' x K' / 255 with C', K' the stored values), as ImageMagick
 *    shows them.
 * The header read sets the record's pixel format to grey or four channels
 * for one or four components, as the AppVex... exports do; with the option
 * the open then takes the format the host leaves in the record, for these
 * frames too.
 * The record the header read and the open give back describes such a frame
 * as any other: colorSpace 0, 1 or 3 by its component count (three, one,
 * four) and the sampling factors of its frame header, except that a lone
 * component reports 1 x 1 (its scan is not interleaved, so its factors mean
 * nothing). Factors that the AppVex... exports refuse (4:4:0, 1 x 2 on every
 * component, 3 x 1, chroma above 1 x 1 and other mixes) are decoded when each
 * is 1 to 4, they divide the largest ones and an MCU holds at most ten
 * blocks; samples of smaller components are replicated. Without the option,
 * such frames are refused and every frame decodes as the AppVex... exports
 * decode it, whatever this reports. */
enum {
    VEX_FRAME_NONE = 0,
    VEX_FRAME_GREY = 1,
    VEX_FRAME_YCBCR = 2,
    VEX_FRAME_RGB = 3,
    VEX_FRAME_CMYK = 4,
    VEX_FRAME_YCCK = 5
};
VEXCODECAPI int VexCodecFrameColour(const VexCodec *codec);

/* The sequence operations, as AppVexQuerySupport, AppVexCompressBuffInit,
 * AppVexCompressBuff, AppVexGetCompInfo, AppVexDecompressBuffInit,
 * AppVexDecompressBuff, AppVexAbort and AppVexDeallocate. */
VEXCODECAPI int16_t VexQuerySupport(VexCodec *codec, int32_t direction, const AppVexParams *params);
VEXCODECAPI int16_t VexCompressOpen(VexCodec *codec, AppVexParams *params);
VEXCODECAPI int16_t VexCompressBand(VexCodec *codec, uint8_t **rows, BandRect *next);
VEXCODECAPI int16_t VexReadInfo(VexCodec *codec, AppVexParams *params);
VEXCODECAPI int16_t VexDecompressOpen(VexCodec *codec, AppVexParams *params);
VEXCODECAPI int16_t VexDecompressBand(VexCodec *codec, uint8_t **rows, BandRect *filled);
VEXCODECAPI int16_t VexAbort(VexCodec *codec);
VEXCODECAPI int16_t VexReleaseMemory(VexCodec *codec);

/* One-call forms. The record is set up as for the band-by-band calls; its
 * read and write callbacks are not used (the instance's VexIo still serves
 * the APPn and COM functions). A record whose bandWidth, bandHeight and
 * bandMemory are all zero lets them choose the bands.
 *
 * VexCompressMemory compresses the image whose row y starts at
 * pixels + y * stride. On success *out receives a buffer of *outSize bytes
 * that the caller releases with VexFree. The record is updated as by
 * VexCompressOpen (band size, tile arrays). */
VEXCODECAPI int16_t VexCompressMemory(VexCodec *codec, AppVexParams *params, const uint8_t *pixels,
                                    ptrdiff_t stride, uint8_t **out, size_t *outSize);
/* VexReadInfoMemory reads the header of the stream in data[0..size) into the
 * record, as VexReadInfo does. */
VEXCODECAPI int16_t VexReadInfoMemory(VexCodec *codec, AppVexParams *params, const uint8_t *data,
                                    size_t size);
/* VexDecompressMemory decodes the stream in data[0..size) into the image
 * whose row y starts at pixels + y * stride; row 0 and column 0 are the
 * window's top left corner (the whole image when no window is set). The
 * record's pixel format and window are taken as VexDecompressOpen takes
 * them. Padding bits of the pixel format are not written, or written with
 * no particular value. */
VEXCODECAPI int16_t VexDecompressMemory(VexCodec *codec, AppVexParams *params, const uint8_t *data,
                                      size_t size, uint8_t *pixels, ptrdiff_t stride);
VEXCODECAPI void VexFree(void *block);

/* A host pixel layout other than the record's, which the converted one-call
 * forms translate band by band while the band is in cache. `convert` turns
 * `count` pixels at `from` into `count` pixels at `to`: for compression from
 * the host's layout into the record's pixel format, for decompression the
 * other way. Each host pixel is `hostBytesPerPixel` bytes. */
typedef struct VexPixelConversion {
    void (*convert)(void *context, const uint8_t *from, uint8_t *to, uint32_t count);
    void *context;
    uint32_t hostBytesPerPixel;
} VexPixelConversion;
/* As VexCompressMemory and VexDecompressMemory, with the caller's image in
 * the conversion's layout. Bands left for the library to choose are kept to
 * a buffer of about 1 MiB. */
VEXCODECAPI int16_t VexCompressMemoryConverted(VexCodec *codec, AppVexParams *params, const uint8_t *pixels,
                                               ptrdiff_t stride, const VexPixelConversion *conversion,
                                               uint8_t **out, size_t *outSize);
VEXCODECAPI int16_t VexDecompressMemoryConverted(VexCodec *codec, AppVexParams *params, const uint8_t *data,
                                                 size_t size, uint8_t *pixels, ptrdiff_t stride,
                                                 const VexPixelConversion *conversion);

/* The JPEG header (SOI up to and including SOS) that describes bare
 * entropy-coded data (VEX_CONTAINER_RAW) compressed with this record: header,
 * data and the two bytes FF D9 make a baseline JPEG stream. Quantisation
 * table i serves component i. Writes at most `capacity` bytes (2 KiB always
 * suffice) and their count to *size;
 * VEX_ERR_NO_BUFFER when they do not fit. */
VEXCODECAPI int16_t VexRawStreamHeader(const AppVexParams *params, uint8_t *out, size_t capacity, size_t *size);

/* One picture on up to `threads` threads. A JFIF stream with a restart
 * interval (and one tile) is cut into strips of whole restart intervals,
 * each coded or decoded on an instance of its own: the bytes and pixels are
 * exactly those of VexCompressMemory and VexDecompressMemory, which these
 * are for other streams, for windows smaller than the image, and with one
 * thread. `codec` codes the first strip; the record is used as those
 * functions use it, except that a compression split into strips leaves the
 * record's band fields and tile arrays as they were. */
VEXCODECAPI int16_t VexCompressMemoryThreads(VexCodec *codec, AppVexParams *params, const uint8_t *pixels,
                                             ptrdiff_t stride, int threads, uint8_t **out, size_t *outSize);
VEXCODECAPI int16_t VexDecompressMemoryThreads(VexCodec *codec, AppVexParams *params, const uint8_t *data,
                                               size_t size, uint8_t *pixels, ptrdiff_t stride, int threads);

/* The same without holding the picture: strips of whole restart intervals
 * (about 256 KiB of pixels each) go through up to `threads` instances at once,
 * and the host sees them strictly in order.
 *
 * VexCompressStrips asks `rows` for strip after strip: it fills rows[i]
 * with row firstRow + i of the picture (count rows), which the library
 * copies before it asks again; `write` receives the stream's bytes in order.
 * VexDecompressStrips decodes data[0..size) and hands each strip's rows to
 * `deliver`, top to bottom, valid during the call. A non-zero return from a
 * host function ends the work with that status. Both refuse with
 * VEX_ERR_UNSUPPORTED, before calling any host function, what cannot be cut
 * into strips (no restart interval, tiles, other containers, a window
 * smaller than the image, frames beyond baseline); the host then takes the
 * band-by-band path. The bytes and pixels are exactly those of one thread. */
typedef int16_t (*VexRowRequest)(void *context, uint32_t firstRow, uint32_t count, const uint8_t **rows);
typedef int16_t (*VexStreamOutput)(void *context, const uint8_t *data, size_t size);
typedef int16_t (*VexRowDelivery)(void *context, uint32_t firstRow, uint32_t count, const uint8_t *const *rows);
VEXCODECAPI int16_t VexCompressStrips(VexCodec *codec, AppVexParams *params, VexRowRequest rows,
                                      VexStreamOutput write, void *context, int threads);
VEXCODECAPI int16_t VexDecompressStrips(VexCodec *codec, AppVexParams *params, const uint8_t *data, size_t size,
                                        VexRowDelivery deliver, void *context, int threads);

#ifdef __cplusplus
}
#endif

#endif /* Q32VEX_CODEC_H */
