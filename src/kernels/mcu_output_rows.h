// The three-component MCU output routines of the vector kernels, written once
// for every processor family (scalar twins: the Output routines in
// decode/color_output.cpp): which luma rows, chroma rows and chroma halves go
// to which host pixels. A family's kernels include this after declaring, for
// their registers, ConstBlocks, LumaRow(blocks, block, row) (a row of eight
// samples), SampleRow(blocks, block, row) (its address), ChromaTerms and
// ChromaRow(cbRow, crRow) (the colour terms of eight chroma pairs),
// Widen2<High> and Widen2x32<High> (the terms of a low or high half, each
// twice or each pair twice) and StorePixels<Bpp, Colour>(out, luma, terms)
// (eight pixels of Bpp bytes, each channel wrapped or clamped as the
// ColourOutput says).
#pragma once
#include <cstdint>

#include "common/engine_params.h"

namespace q32vex {
namespace {

template <int Bpp, ColourOutput Colour>
void OutputH1V1Vector(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row)
        StorePixels<Bpp, Colour>(rows[row], LumaRow(blocks, 0, row), ChromaRow(SampleRow(blocks, 1, row), SampleRow(blocks, 2, row)));
}

template <int Bpp, ColourOutput Colour>
void OutputH2V1Vector(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        const ChromaTerms t = ChromaRow(SampleRow(blocks, 2, row), SampleRow(blocks, 3, row));
        StorePixels<Bpp, Colour>(rows[row], LumaRow(blocks, 0, row), Widen2<false>(t));
        StorePixels<Bpp, Colour>(rows[row] + 8 * Bpp, LumaRow(blocks, 1, row), Widen2<true>(t));
    }
}

template <int Bpp, ColourOutput Colour>
void OutputH2V2Vector(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int pair = 0; pair < 8; ++pair) {
        const ChromaTerms t = ChromaRow(SampleRow(blocks, 4, pair), SampleRow(blocks, 5, pair));
        const ChromaTerms left = Widen2<false>(t), right = Widen2<true>(t);
        for (int k = 0; k < 2; ++k) {
            const int row = 2 * pair + k;
            const int yBlock = row < 8 ? 0 : 2;
            StorePixels<Bpp, Colour>(rows[row], LumaRow(blocks, yBlock, row & 7), left);
            StorePixels<Bpp, Colour>(rows[row] + 8 * Bpp, LumaRow(blocks, yBlock + 1, row & 7), right);
        }
    }
}

template <int Bpp, ColourOutput Colour>
void OutputH4V1Vector(uint8_t* const* rows, ConstBlocks blocks, int /*bytesPerPixel*/) {
    for (int row = 0; row < 8; ++row) {
        const ChromaTerms t = ChromaRow(SampleRow(blocks, 4, row), SampleRow(blocks, 5, row));
        const ChromaTerms low = Widen2<false>(t), high = Widen2<true>(t);
        StorePixels<Bpp, Colour>(rows[row], LumaRow(blocks, 0, row), Widen2x32<false>(low));
        StorePixels<Bpp, Colour>(rows[row] + 8 * Bpp, LumaRow(blocks, 1, row), Widen2x32<true>(low));
        StorePixels<Bpp, Colour>(rows[row] + 16 * Bpp, LumaRow(blocks, 2, row), Widen2x32<false>(high));
        StorePixels<Bpp, Colour>(rows[row] + 24 * Bpp, LumaRow(blocks, 3, row), Widen2x32<true>(high));
    }
}

}  // namespace
}  // namespace q32vex
