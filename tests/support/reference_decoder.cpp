// The tests' reference block decoder, built from the library's block
// decoder template in its coded-order form.
#include "decode/huffman_block_decoder.h"
#include "reference_kernels.h"

namespace vextest {

using namespace q32vex;

Status DecodeBlock(BitReader& bits, InputBuffer& in, int16_t* coefs, int16_t* predictor, const uint16_t* dcTable,
                   const uint16_t* acTable) {
    FastReader reader;
    reader.Load(bits, in);
    bool acStored = false;
    Q_TRY(DecodeCoefficients<false>(reader, coefs, predictor, dcTable, acTable, nullptr, nullptr, &acStored));
    reader.Store();
    return 0;
}

}  // namespace vextest
