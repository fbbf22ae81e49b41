// Pixel worlds: real row padding, depth conversion, checked access.
#include "HostTestSupport.h"

namespace TEV::Host::Testing {
namespace {

TEST(PixelWorld, RowsArePaddedAndThePaddingIsGuarded) {
    PixelWorld w(5, 3, 16);
    EXPECT_EQ(w.rowbytes(), 5u * 8 + PixelWorld::kDefaultRowPadding);
    EXPECT_EQ(w.world()->rowbytes, static_cast<A_long>(w.rowbytes()));
    EXPECT_TRUE(w.world()->world_flags & PF_WorldFlag_DEEP);
    EXPECT_TRUE(w.paddingIntact());
    // One pixel past the end of row 1 lands in its padding.
    auto* row1 = reinterpret_cast<PF_Pixel16*>(reinterpret_cast<char*>(w.world()->data) + w.rowbytes());
    row1[5].red = 7;
    EXPECT_FALSE(w.paddingIntact());
}

TEST(PixelWorld, ConvertsBetweenDepthsWithTheHostsChannelRanges) {
    PixelWorld w8(2, 2, 8);
    w8.pixel8(1, 1) = PF_Pixel{255, 255, 128, 0};
    PixelWorld w16 = w8.convertedTo(16);
    EXPECT_EQ(w16.pixel16(1, 1).alpha, 32768);
    EXPECT_EQ(w16.pixel16(1, 1).green, 16448);  // 128/255 of 32768, rounded
    PixelWorld w32 = w16.convertedTo(32);
    EXPECT_FLOAT_EQ(w32.pixelFloat(1, 1).red, 1.0f);
    EXPECT_EQ(w32.pixelFormat(), PF_PixelFormat_ARGB128);
    EXPECT_EQ(knownWorldDepth(w32.world()), 32);
    EXPECT_EQ(w32.convertedTo(8).pixel8(1, 1).green, 128);

    w8.set(0, 0, Rgba{2.0f, -1.0f, 0.5f, 1.0f});  // clamped at 8 bits
    EXPECT_EQ(w8.pixel8(0, 0).red, 255);
    EXPECT_EQ(w8.pixel8(0, 0).green, 0);
}

TEST(PixelWorld, MovingKeepsTheRecordAndPixelsInPlace) {
    PixelWorld a(3, 3, 32);
    PF_EffectWorld* record = a.world();
    PixelWorld b = std::move(a);
    EXPECT_EQ(b.world(), record);
    EXPECT_EQ(knownWorldDepth(record), 32);
}

TEST(PixelWorld, BadArgumentsAndWrongDepthAccessThrow) {
    EXPECT_THROW(PixelWorld(4, 4, 12), HostError);
    EXPECT_THROW(PixelWorld(-1, 4, 8), HostError);
    PixelWorld w(4, 4, 8);
    EXPECT_THROW(w.pixel16(0, 0), HostError);
    EXPECT_THROW(w.pixel8(4, 0), HostError);
    PF_EffectWorld stranger{};
    EXPECT_EQ(knownWorldDepth(&stranger), 0);
}

}  // namespace
}  // namespace TEV::Host::Testing
