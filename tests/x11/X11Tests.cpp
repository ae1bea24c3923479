// The X11 backend's arithmetic that needs no server: a pixel's channels in each visual's pixels,
// which visuals the shared-memory canvas takes as they are, and a mode's refresh.
#include <gtest/gtest.h>

#include <bit>

#include "x11/Monitors.h"
#include "x11/Visuals.h"

namespace digitmosaic {
namespace {

constexpr ChannelMasks kRgb{0xFF0000, 0xFF00, 0xFF}, kBgr{0xFF, 0xFF00, 0xFF0000};

// Of 0x123456 and pure red, each channel's highest bits at the top of its mask: 5-6-5 and 8-8-8 in
// either order, and 10-10-10 (each byte in a channel's eight highest bits).
TEST(ChannelShifts, PutEachChannelsHighestBitsAtTheTopOfItsMask) {
    const struct {
        ChannelMasks masks;
        std::uint32_t mixed, red;
    } table[] = {{kRgb, 0x123456, 0xFF0000},
                 {kBgr, 0x563412, 0xFF},
                 {{0xF800, 0x7E0, 0x1F}, 0x11AA, 0xF800},
                 {{0x1F, 0x7E0, 0xF800}, 0x51A2, 0x1F},
                 {{0x3FF00000, 0xFFC00, 0x3FF}, 0x4834158, 0x3FC00000}};
    for (const auto& row : table) {
        const ChannelShifts shifts(row.masks);
        EXPECT_EQ(shifts.ServerPixelOf(0xFF123456), row.mixed) << std::hex << row.masks.red;
        EXPECT_EQ(shifts.ServerPixelOf(0xFFFF0000), row.red) << std::hex << row.masks.red;
    }
}

// Only 32-bit 0x..RRGGBB pixels in this machine's byte order are the filled pixels as they are.
TEST(ChannelShifts, OnlyRgbInThirtyTwoBitsInThisMachinesOrderIsTakenAsFilled) {
    const bool native = std::endian::native == std::endian::little;
    EXPECT_TRUE(PixelsAsFilled(kRgb, native, 32));
    EXPECT_FALSE(PixelsAsFilled(kBgr, native, 32));
    EXPECT_FALSE(PixelsAsFilled(kRgb, !native, 32));
    EXPECT_FALSE(PixelsAsFilled(kRgb, native, 24));
    EXPECT_FALSE(PixelsAsFilled({0xF800, 0x7E0, 0x1F}, native, 16));
}

// 1920 x 1080 at 60 Hz (CEA-861), 1024 x 768 at 75 Hz (VESA); nothing where the server gives zero.
TEST(Monitors, AModesRefreshComesFromItsPixelClockAndTotals) {
    EXPECT_EQ(RefreshOfMode(148'500'000, 2200, 1125).count(), 16'666'666);
    EXPECT_EQ(RefreshOfMode(78'750'000, 1312, 800).count(), 13'328'253);
    for (const auto& [clock, across, down] :
         {std::tuple(0, 2200, 1125), {1, 0, 1125}, {1, 2200, 0}})
        EXPECT_EQ(RefreshOfMode(clock, across, down).count(), 0) << across << "x" << down;
}

}  // namespace
}  // namespace digitmosaic
