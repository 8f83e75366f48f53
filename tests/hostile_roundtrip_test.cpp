// Whatever the library agrees to write must read back: header fields chosen
// by the host (density units, sizes, restart intervals) must not produce a
// file the library's own reader refuses.
#include <vector>

#include "../fuzz/decode_driver.h"
#include "test_support.h"

namespace {

using vextest::LibraryTest;

using HostileRoundTrip = LibraryTest;

TEST_F(HostileRoundTrip, EveryDensityUnitTheWriterAcceptsReadsBack) {
    const vextest::Image image = vextest::MakeTestImage(21, 13, 1, 4);
    for (int16_t container : {int16_t(VEX_CONTAINER_JFIF), int16_t(VEX_CONTAINER_TIFF)}) {
        for (uint16_t units = 0; units <= 3; ++units) {
            SCOPED_TRACE(::testing::Message() << "container " << container << " units " << units);
            AppVexParams p;
            AppVexSetDefaultCompress(&p);
            p.width = 21;
            p.height = 13;
            p.containerKind = container;
            p.sampling = vextest::SamplingOf(3, &p.colorSpace);
            p.pixelFormat = vextest::FormatDesc(3, &p.pixelModel);
            p.densityUnits = units;
            p.xDensity = 300;
            p.yDensity = 150;
            std::vector<uint8_t> stream;
            ASSERT_EQ(vextest::CompressImage(p, image, vextest::CompressOptions(), &stream), 0);
            vexfuzz::DecodeOptions o;
            o.samplingIndex = 3;  // a grey TIFF does not record its sampling
            vexfuzz::DecodeOutcome outcome;
            EXPECT_EQ(vexfuzz::DecodeStream(stream.data(), stream.size(), container, o, &outcome), "");
            EXPECT_EQ(outcome.infoStatus, 0);
            EXPECT_EQ(outcome.initStatus, 0);
            EXPECT_EQ(outcome.status, 0);
            if (outcome.infoStatus == 0) {
                EXPECT_EQ(outcome.info.xDensity, 300);
                EXPECT_EQ(outcome.info.yDensity, 150);
            }
        }
    }
}

}  // namespace
