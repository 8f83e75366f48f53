/*
 * q32vex: baseline JPEG codec with a band-by-band callback interface.
 *
 * One codec state per process, no handles: a host opens one compression or
 * decompression sequence at a time with the AppVex... exports below, hands
 * pixels over in bands of whole rows, and moves compressed bytes through its
 * own read and write callbacks.
 *
 * The record AppVexParams is the library's whole configuration. On 32-bit
 * targets (Windows and Linux) it is exactly 146 bytes, packed, little-endian,
 * with the field offsets noted below; this is the binary layout legacy hosts
 * depend on. On 64-bit targets pointers are 8 bytes wide, so the record grows
 * to 218 bytes and every field after `sampling` moves; only the field order is
 * the same there.
 */
#ifndef Q32VEX_H
#define Q32VEX_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define VEXAPI __stdcall
#elif (defined(__i386__) || defined(_M_IX86)) && !defined(_WIN32)
#define VEXAPI __attribute__((stdcall))
#else
#define VEXAPI
#endif

#if defined(_WIN32)
#if defined(Q32VEX_BUILDING)
#define VEXEXPORT __declspec(dllexport)
#else
#define VEXEXPORT __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VEXEXPORT __attribute__((visibility("default")))
#else
#define VEXEXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes: 0 is success, failures are negative. A host callback's own
 * non-zero status is passed back unchanged, so hosts may also see their own
 * values. */
#define VEX_OK 0
#define VEX_ERR_IO_REQUEST (-367)
#define VEX_ERR_UNSUPPORTED (-368)
#define VEX_ERR_NOT_OPEN (-369)
#define VEX_ERR_WINDOW (-370)
#define VEX_ERR_AC_COUNT (-371)
#define VEX_ERR_DC_COUNT (-372)
#define VEX_ERR_NO_CALLBACK (-373)
#define VEX_ERR_SHORT_READ (-374)
#define VEX_ERR_AC_TABLE (-375)
#define VEX_ERR_DC_TABLE (-376)
#define VEX_ERR_Q_TABLE (-377)
#define VEX_ERR_SAMPLING (-378)
#define VEX_ERR_BAND (-380)
#define VEX_ERR_TILE (-381)
#define VEX_ERR_IMAGE_SIZE (-382)
#define VEX_ERR_CONTAINER (-385)
#define VEX_ERR_PIXEL_FORMAT (-386)
#define VEX_ERR_PIXEL_MODEL (-387)
#define VEX_ERR_COLOR_SPACE (-389)
#define VEX_ERR_QUALITY (-391)
#define VEX_ERR_NO_BUFFER (-393)
#define VEX_ERR_DIFFERENT (-394)
#define VEX_ERR_TABLE_KIND (-395)
#define VEX_ERR_NO_MEMORY (-396)
#define VEX_ERR_BUSY (-397)
#define VEX_ERR_NOT_COMPRESSING (-398)

/* Container kinds. */
#define VEX_CONTAINER_RAW 0  /* bare entropy-coded data */
#define VEX_CONTAINER_JFIF 1 /* JPEG interchange stream with JFIF header */
#define VEX_CONTAINER_TIFF 2 /* single-image tiled TIFF, JPEG compression */

/* Table kinds for AppVexGetTableSize. */
#define VEX_TABLE_QUANT 0
#define VEX_TABLE_DC 1
#define VEX_TABLE_AC 2

/* Direction words for AppVexQuerySupport. */
#define VEX_DIRECTION_COMPRESS 1
#define VEX_DIRECTION_DECOMPRESS 2

#pragma pack(push, 1)

/* Host pixel layout: bits of channels 0..3, then padding bits after each. */
typedef struct PixelFormatDesc {
    uint16_t bits[4];
    uint16_t pad[4];
} PixelFormatDesc;

/* JPEG sampling factors of components 0..3: horizontal, then vertical. */
typedef struct SamplingDesc {
    uint16_t h[4];
    uint16_t v[4];
} SamplingDesc;

/* Inclusive rectangle in pixels; an empty one is reported as x0 = 1, x1 = 0. */
typedef struct BandRect {
    uint16_t x0, y0, x1, y1;
} BandRect;

/* Output: hand over *size finished bytes at *buffer, then store a fresh buffer
 * for the stream position `position` (-1: right after the bytes taken). */
typedef int16_t(VEXAPI *VexWriteCallback)(uint8_t **buffer, int32_t position, uint16_t *size,
                                          void *reserved);
/* Input: deliver up to *count bytes starting at `position` (-1: continue);
 * *endFlag may be set to 1 when nothing follows the bytes delivered. */
typedef int16_t(VEXAPI *VexReadCallback)(uint8_t **data, int32_t position, uint16_t *count,
                                         int16_t *endFlag);
/* Source of extra header segments while compressing (APP0 thumbnail,
 * APP1..APP15, COM). */
typedef int16_t(VEXAPI *VexAppMarkerCallback)(uint8_t marker, uint16_t *size,
                                              uint16_t *bufferLength, uint8_t **data);
/* Receiver of APPn and COM segment data while reading a JPEG header. */
typedef int16_t(VEXAPI *VexAppMarkerReadCallback)(uint8_t marker, uint16_t info, uint16_t count,
                                                  uint8_t **data);

/* The parameter record. Offsets are those of 32-bit targets. */
typedef struct AppVexParams {
    uint16_t width;                    /*   0 */
    uint16_t height;                   /*   2 */
    uint16_t tileWidth;                /*   4 */
    uint16_t tileHeight;               /*   6 */
    uint16_t restartInterval;          /*   8 */
    int16_t containerKind;             /*  10 */
    int16_t colorSpace;                /*  12 */
    SamplingDesc sampling;             /*  14 */
    const uint8_t *qTables[4];         /*  30 */
    const uint8_t *dcTables[4];        /*  46 */
    const uint8_t *acTables[4];        /*  62 */
    uint32_t *tileByteCounts;          /*  78 */
    uint32_t *tileOffsets;             /*  82 */
    uint16_t tileCount;                /*  86 */
    uint16_t densityUnits;             /*  88 */
    uint16_t xDensity;                 /*  90 */
    uint16_t yDensity;                 /*  92 */
    VexReadCallback readCallback;      /*  94 */
    VexAppMarkerReadCallback appMarkerReadCallback; /* 98 */
    uint16_t bandWidth;                /* 102 */
    uint16_t bandHeight;               /* 104 */
    int32_t bandMemory;                /* 106 */
    int16_t pixelModel;                /* 110 */
    PixelFormatDesc pixelFormat;       /* 112 */
    uint16_t quality;                  /* 128 */
    VexWriteCallback writeCallback;    /* 130 */
    VexAppMarkerCallback appMarkerCallback; /* 134 */
    uint16_t windowLeft;               /* 138 */
    uint16_t windowTop;                /* 140 */
    uint16_t windowRight;              /* 142 */
    uint16_t windowBottom;             /* 144 */
} AppVexParams;

#pragma pack(pop)

#if defined(__cplusplus) && (UINTPTR_MAX == 0xFFFFFFFFu)
static_assert(sizeof(AppVexParams) == 146, "AppVexParams must be 146 bytes");
static_assert(offsetof(AppVexParams, height) == 2, "height");
static_assert(offsetof(AppVexParams, tileWidth) == 4, "tileWidth");
static_assert(offsetof(AppVexParams, tileHeight) == 6, "tileHeight");
static_assert(offsetof(AppVexParams, restartInterval) == 8, "restartInterval");
static_assert(offsetof(AppVexParams, containerKind) == 10, "containerKind");
static_assert(offsetof(AppVexParams, colorSpace) == 12, "colorSpace");
static_assert(offsetof(AppVexParams, sampling) == 14, "sampling");
static_assert(offsetof(AppVexParams, qTables) == 30, "qTables");
static_assert(offsetof(AppVexParams, dcTables) == 46, "dcTables");
static_assert(offsetof(AppVexParams, acTables) == 62, "acTables");
static_assert(offsetof(AppVexParams, tileByteCounts) == 78, "tileByteCounts");
static_assert(offsetof(AppVexParams, tileOffsets) == 82, "tileOffsets");
static_assert(offsetof(AppVexParams, tileCount) == 86, "tileCount");
static_assert(offsetof(AppVexParams, densityUnits) == 88, "densityUnits");
static_assert(offsetof(AppVexParams, xDensity) == 90, "xDensity");
static_assert(offsetof(AppVexParams, yDensity) == 92, "yDensity");
static_assert(offsetof(AppVexParams, readCallback) == 94, "readCallback");
static_assert(offsetof(AppVexParams, appMarkerReadCallback) == 98, "appMarkerReadCallback");
static_assert(offsetof(AppVexParams, bandWidth) == 102, "bandWidth");
static_assert(offsetof(AppVexParams, bandHeight) == 104, "bandHeight");
static_assert(offsetof(AppVexParams, bandMemory) == 106, "bandMemory");
static_assert(offsetof(AppVexParams, pixelModel) == 110, "pixelModel");
static_assert(offsetof(AppVexParams, pixelFormat) == 112, "pixelFormat");
static_assert(offsetof(AppVexParams, quality) == 128, "quality");
static_assert(offsetof(AppVexParams, writeCallback) == 130, "writeCallback");
static_assert(offsetof(AppVexParams, appMarkerCallback) == 134, "appMarkerCallback");
static_assert(offsetof(AppVexParams, windowLeft) == 138, "windowLeft");
static_assert(offsetof(AppVexParams, windowTop) == 140, "windowTop");
static_assert(offsetof(AppVexParams, windowRight) == 142, "windowRight");
static_assert(offsetof(AppVexParams, windowBottom) == 144, "windowBottom");
#endif

/* Defaults and tables. */
VEXEXPORT void VEXAPI AppVexSetDefaultCompress(AppVexParams *params);
VEXEXPORT void VEXAPI AppVexSetDefaultDecompress(AppVexParams *params);
VEXEXPORT int16_t VEXAPI AppVexGetDefaultTables(int16_t colorSpace, const uint8_t *const **qTables,
                                                const uint8_t *const **dcTables,
                                                const uint8_t *const **acTables);
VEXEXPORT int16_t VEXAPI AppVexMakeQTable(const uint8_t *source, uint16_t quality,
                                          uint8_t *destination);
VEXEXPORT int16_t VEXAPI AppVexGetTableSize(int16_t kind, const uint8_t *table, uint16_t *size);

/* Format questions. */
VEXEXPORT int16_t VEXAPI AppVexGetMcuDims(int16_t colorSpace, const SamplingDesc *sampling,
                                          uint16_t *mcuWidth, uint16_t *mcuHeight);
VEXEXPORT int16_t VEXAPI AppVexQuerySupport(int32_t direction, const AppVexParams *params);

/* Compression. */
VEXEXPORT int16_t VEXAPI AppVexCompressBuffInit(AppVexParams *params);
VEXEXPORT int16_t VEXAPI AppVexCompressBuff(uint8_t **rows, BandRect *next);

/* Decompression. */
VEXEXPORT int16_t VEXAPI AppVexGetCompInfo(AppVexParams *params);
VEXEXPORT int16_t VEXAPI AppVexDecompressBuffInit(AppVexParams *params);
VEXEXPORT int16_t VEXAPI AppVexDecompressBuff(uint8_t **rows, BandRect *filled);

/* Control. */
VEXEXPORT int16_t VEXAPI AppVexAbort(void);
VEXEXPORT int16_t VEXAPI AppVexDeallocate(void);
VEXEXPORT void VEXAPI AppVexEnterCriticalSection(void);
VEXEXPORT void VEXAPI AppVexLeaveCriticalSection(void);

#ifdef __cplusplus
}
#endif

#endif /* Q32VEX_H */
