// The record both sequence opens hand to the engine setups, and the engine
// storage the two directions share (one sequence is open at a time).
#pragma once
#include <cstdint>

#include "q32vex.h"

namespace q32vex {

struct EngineParams {
    uint16_t mcusPerPass;
    uint16_t passesPerTile;
    uint16_t restartInterval;
    int16_t pixelModel;
    const PixelFormatDesc* pixelFormat;
    int16_t colorSpace;
    const SamplingDesc* sampling;
    const uint8_t* qTables[4];
    const uint8_t* dcTables[4];
    const uint8_t* acTables[4];
};

constexpr int kEdgeRowBytes = 128;  // one MCU row: up to 32 pixels x 3 bytes

struct DecQuantTable;

struct alignas(32) EngineState {
    int16_t blockBuffers[10][64];
    uint8_t edgeRows[16][kEdgeRowBytes];
    uint8_t* edgeRowPointers[16];
    EngineParams params;
    int16_t dcPredictor[4];
    uint16_t restartCountdown;
    uint16_t restartNumber;
    uint16_t passesLeft;
    // The decompression engine's inverse DCT kernel, chosen at its setup.
    void (*inverseDct)(int16_t* block, const DecQuantTable* table);
};

void ResetDcPredictors();

}  // namespace q32vex
