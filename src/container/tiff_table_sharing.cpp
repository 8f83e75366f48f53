// The TIFF reader's table sharing: the file stores a Huffman table per
// component, the record has two slots for them.
#include "common/bytes.h"
#include "container/tiff_reader_state.h"

namespace q32vex {
namespace tiff {

// Components 2 and 3 have no slots of their own: their Huffman tables must
// equal one of the two slot tables, or take slot 1 when components 0 and 1
// share slot 0.
Status ShareTables(ReaderState& reader, AppVexParams* params, int16_t kind) {
    const bool dc = kind == kDcTable;
    uint8_t* slots[2] = {dc ? reader.slots.dc[0] : reader.slots.ac[0], dc ? reader.slots.dc[1] : reader.slots.ac[1]};
    uint8_t* scratch[2] = {dc ? reader.scratchDc[0] : reader.scratchAc[0],
                           dc ? reader.scratchDc[1] : reader.scratchAc[1]};
    const uint8_t* tables[4] = {slots[0], slots[1], scratch[0], scratch[1]};
    uint16_t number[4] = {0, 0, 0, 0};
    uint16_t distinct = reader.components;
    Q_TRY(NumberTables(&distinct, kind, tables, number));
    if (distinct > 2) return VEX_ERR_CONTAINER;
    if (number[1] == 0) {
        for (uint16_t c = 2; c < reader.components; ++c) {
            if (number[c] != c) continue;
            uint16_t size = 0;
            Q_TRY(GetTableSize(kind, tables[c], &size));
            CopyWords(slots[1], tables[c], size);
            tables[c] = slots[1];
            break;
        }
    }
    for (uint16_t c = 1; c < reader.components; ++c) {
        if (number[c] != c) tables[c] = tables[number[c]];
    }
    // The record is packed: its pointers are written one by one.
    for (uint16_t c = 0; c < reader.components; ++c) {
        if (dc) {
            params->dcTables[c] = tables[c];
        } else {
            params->acTables[c] = tables[c];
        }
    }
    return 0;
}

}  // namespace tiff
}  // namespace q32vex
