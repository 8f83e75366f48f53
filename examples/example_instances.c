/* Compress the same picture on four threads at once, each on a codec instance of its own. */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include "q32vex_codec.h"

static uint8_t pixels[240][320][3]; /* blue, green, red */

static void *compress(void *sizeOut) {
    VexCodec *codec = VexCodecCreate();
    AppVexParams params;
    AppVexSetDefaultCompress(&params); /* JFIF, 4:2:2, quality 25 */
    params.width = 320, params.height = 240;
    uint8_t *jpeg = NULL;
    size_t size = 0;
    if (codec && VexCompressMemory(codec, &params, pixels[0][0], sizeof pixels[0], &jpeg, &size) == 0)
        *(size_t *)sizeOut = size;
    VexFree(jpeg);
    VexCodecDestroy(codec);
    return NULL;
}

int main(void) {
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) pixels[y][x][0] = (uint8_t)x, pixels[y][x][2] = (uint8_t)y;
    pthread_t threads[4];
    size_t sizes[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) pthread_create(&threads[i], NULL, compress, &sizes[i]);
    for (int i = 0; i < 4; ++i) pthread_join(threads[i], NULL);
    int same = sizes[0] != 0 && sizes[1] == sizes[0] && sizes[2] == sizes[0] && sizes[3] == sizes[0];
    printf("%s: %zu bytes each\n", same ? "four equal streams" : "streams differ", sizes[0]);
    return same ? 0 : 1;
}
