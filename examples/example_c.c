/* Compress a 64 x 48 gradient to a JFIF file with the C exports, 16 rows per band. */
#include <stdio.h>
#include "q32vex.h"

static uint8_t buffer[4096]; /* lent to the library for its output */
static FILE *file;

static int16_t VEXAPI on_write(uint8_t **out, int32_t position, uint16_t *size, void *reserved) {
    (void)reserved;
    fwrite(buffer, 1, *size, file); /* the finished bytes of the buffer lent last */
    if (position != -1) fseek(file, position, SEEK_SET); /* where the next ones go */
    *out = buffer;
    *size = sizeof buffer;
    return 0;
}

int main(void) {
    static uint8_t pixels[48][64][3]; /* blue, green, red */
    uint8_t *rows[48];
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) pixels[y][x][0] = (uint8_t)(x * 4), pixels[y][x][1] = (uint8_t)(y * 5);
        rows[y] = pixels[y][0];
    }
    AppVexParams params;
    AppVexSetDefaultCompress(&params); /* JFIF, 4:2:2, quality 25 */
    params.width = 64, params.height = 48;
    params.bandWidth = 64, params.bandHeight = 16;
    params.writeCallback = on_write;
    if (!(file = fopen("example_c.jpg", "wb"))) return 1;
    AppVexEnterCriticalSection();
    int16_t status = AppVexCompressBuffInit(&params);
    BandRect band = {0, 0, 63, 15};
    while (status == 0 && !(band.x0 == 1 && band.x1 == 0))
        status = AppVexCompressBuff(rows + band.y0, &band); /* reports the next band */
    AppVexLeaveCriticalSection();
    fclose(file);
    printf("status %d\n", status);
    return status == 0 ? 0 : 1;
}
