/*
 * A minimal Windows host: loads Q32VEX.dll the way a legacy application does,
 * resolves exports by name and by ordinal, calls a few of them through
 * __stdcall pointers and checks the answers. One direct call goes through the
 * import library as well. Prints PASS or FAIL; the exit status follows.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "q32vex.h"

typedef void(VEXAPI *SetDefaultFn)(AppVexParams *);
typedef int16_t(VEXAPI *QuerySupportFn)(int32_t, const AppVexParams *);
typedef int16_t(VEXAPI *MakeQTableFn)(const uint8_t *, uint16_t, uint8_t *);
typedef int16_t(VEXAPI *GetDefaultTablesFn)(int16_t, const uint8_t *const **,
                                            const uint8_t *const **, const uint8_t *const **);
typedef int16_t(VEXAPI *NoArgFn)(void);

static int failures = 0;

static void Check(int ok, const char *what) {
    if (!ok) {
        ++failures;
        printf("  failed: %s\n", what);
    }
}

static FARPROC ByName(HMODULE dll, const char *name) {
    FARPROC p = GetProcAddress(dll, name);
    if (p == NULL) {
        ++failures;
        printf("  missing export: %s\n", name);
    }
    return p;
}

int main(void) {
    HMODULE dll = LoadLibraryA("Q32VEX.dll");
    if (dll == NULL) {
        printf("FAIL: LoadLibrary(Q32VEX.dll) error %lu\n", (unsigned long)GetLastError());
        return 1;
    }

    SetDefaultFn setCompress = (SetDefaultFn)ByName(dll, "AppVexSetDefaultCompress");
    SetDefaultFn setDecompress = (SetDefaultFn)ByName(dll, "AppVexSetDefaultDecompress");
    QuerySupportFn querySupport = (QuerySupportFn)ByName(dll, "AppVexQuerySupport");
    MakeQTableFn makeQTable = (MakeQTableFn)ByName(dll, "AppVexMakeQTable");
    GetDefaultTablesFn getTables = (GetDefaultTablesFn)ByName(dll, "AppVexGetDefaultTables");
    NoArgFn abortFn = (NoArgFn)ByName(dll, "AppVexAbort");
    NoArgFn deallocate = (NoArgFn)ByName(dll, "AppVexDeallocate");
    if (failures != 0) {
        printf("FAIL\n");
        return 1;
    }

    /* Ordinals: both default-record names are one entry; 17 to 22 are empty. */
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(4)) == (FARPROC)setCompress, "ordinal 4");
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(8)) == (FARPROC)setCompress, "ordinal 8 aliases 4");
    Check((FARPROC)setDecompress == (FARPROC)setCompress, "second name, same entry");
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(3)) == (FARPROC)makeQTable, "ordinal 3");
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(2)) == (FARPROC)getTables, "ordinal 2");
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(11)) == (FARPROC)abortFn, "ordinal 11");
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(12)) == (FARPROC)deallocate, "ordinal 12");
    Check(GetProcAddress(dll, MAKEINTRESOURCEA(23)) == (FARPROC)querySupport, "ordinal 23");
    for (int ordinal = 17; ordinal <= 22; ++ordinal) {
        Check(GetProcAddress(dll, MAKEINTRESOURCEA(ordinal)) == NULL, "ordinals 17-22 empty");
    }
    Check(GetProcAddress(dll, "AppVexAbort@0") == NULL, "no decorated names");

    /* The default record, byte for byte, over a record prefilled with junk. */
    {
        unsigned char raw[sizeof(AppVexParams)];
        unsigned char expected[sizeof(AppVexParams)];
        Check(sizeof(AppVexParams) == 146, "record is 146 bytes");
        memset(raw, 0x5A, sizeof raw);
        memset(expected, 0, sizeof expected);
        expected[4] = expected[5] = expected[6] = expected[7] = 0xFF; /* tile size */
        expected[10] = 1;                                             /* JFIF */
        expected[14] = 2; expected[16] = 1; expected[18] = 1;         /* H 2,1,1 */
        expected[22] = 1; expected[24] = 1; expected[26] = 1;         /* V 1,1,1 */
        expected[112] = 8; expected[114] = 8; expected[116] = 8;      /* 8,8,8 */
        expected[128] = 25;                                           /* quality */
        expected[142] = expected[143] = expected[144] = expected[145] = 0xFF;
        setDecompress((AppVexParams *)raw);
        Check(memcmp(raw, expected, sizeof raw) == 0, "default record bytes");
    }

    /* Support questions through the stdcall pointers. */
    {
        AppVexParams p;
        setCompress(&p);
        Check(querySupport(VEX_DIRECTION_COMPRESS, &p) == 0, "default record supported");
        p.pixelFormat.pad[2] = 8; /* 32-bit pixels with 4:1:1 are not supported */
        p.sampling.h[0] = 4;
        Check(querySupport(VEX_DIRECTION_DECOMPRESS, &p) == VEX_ERR_UNSUPPORTED, "4:1:1 at 32 bits");
        p.colorSpace = 2;
        Check(querySupport(VEX_DIRECTION_COMPRESS, &p) == VEX_ERR_COLOR_SPACE, "colour space 2");
    }

    /* Quality scaling of the default luminance table, into zigzag order. */
    {
        const uint8_t *const *q = NULL, *const *dc = NULL, *const *ac = NULL;
        uint8_t out[64];
        static const uint8_t head[8] = {16, 11, 12, 14, 12, 10, 16, 14};
        Check(getTables(0, &q, &dc, &ac) == 0 && q != NULL && q[0] != NULL, "default tables");
        if (q != NULL && q[0] != NULL) {
            Check(makeQTable(q[0], 50, out) == 0 && memcmp(out, head, 8) == 0, "quality 50");
            memset(out, 0xAA, sizeof out);
            Check(makeQTable(q[0], 0, out) == VEX_ERR_QUALITY && out[0] == 0xAA, "quality 0");
        }
        Check(getTables(4, &q, &dc, &ac) == VEX_ERR_COLOR_SPACE, "colour space 4");
    }

    /* Through the import library: the same code behind the same name. */
    {
        SamplingDesc s = {{2, 1, 1, 0}, {2, 1, 1, 0}};
        uint16_t w = 0, h = 0;
        Check(AppVexGetMcuDims(0, &s, &w, &h) == 0 && w == 16 && h == 16, "import library call");
    }

    Check(abortFn() == VEX_ERR_NOT_OPEN, "abort with nothing open");
    Check(deallocate() == 0, "deallocate");
    FreeLibrary(dll);

    printf(failures == 0 ? "PASS\n" : "FAIL\n");
    return failures == 0 ? 0 : 1;
}
