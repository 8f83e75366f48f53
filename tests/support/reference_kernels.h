// Reference forms of three library stages, for the tests only: each works on
// one block in the JPEG coded (zigzag) order with the tables as the derived-
// table builder lays them out, and so gives the tests a second path to hold
// the engines' natural-order, packed-table, whole-MCU kernels against.
#pragma once
#include <cstdint>

#include "common/derived_tables.h"
#include "decode/huffman_decoder.h"
#include "decode/input_reader.h"
#include "encode/huffman_encoder.h"
#include "encode/stream_writer.h"

namespace vextest {

// Dequantisation by the table's values and shifts, then the library's
// transform: zigzag coefficients in, 256 x (sample - 128) in natural order out.
void InverseDctBlock(int16_t* block, const q32vex::DecQuantTable* table);

// One block's coefficients in zigzag order, without the fast AC table.
[[nodiscard]] q32vex::Status DecodeBlock(q32vex::BitReader& bits, q32vex::InputBuffer& in, int16_t* coefs,
                                         int16_t* predictor, const uint16_t* dcTable, const uint16_t* acTable);

// The compression quantisation table the library derives from a zigzag
// quantisation table, built in a table cache of its own and copied out.
q32vex::EncQuantTable LibraryEncQuantTable(const uint8_t* zigzag);

// One block coded with the DC and AC code tables as built, packed code by code.
[[nodiscard]] q32vex::Status EncodeBlock(q32vex::BitWriter& bits, q32vex::StreamBuffer& out, const int16_t* block,
                                         int16_t* predictor, const q32vex::HuffEncDc* dc,
                                         const q32vex::HuffEncAc* ac);

}  // namespace vextest
