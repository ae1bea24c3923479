// The channels' places in a visual's pixels.
#include "x11/Visuals.h"

#include <algorithm>
#include <bit>

namespace digitmosaic {

ChannelShifts::ChannelShifts(const ChannelMasks& masks)
    : red_(Of(masks.red)), green_(Of(masks.green)), blue_(Of(masks.blue)) {}

ChannelShifts::Channel ChannelShifts::Of(std::uint32_t mask) {
    return {std::countr_zero(mask), std::popcount(mask)};
}

std::uint32_t ChannelShifts::ServerPixelOf(Pixel pixel) const {
    const auto scaled = [](int value, const Channel& channel) {
        const int kept = std::min(channel.bits, 8);
        return static_cast<std::uint32_t>(value >> (8 - kept))
               << (channel.shift + channel.bits - kept);
    };
    return scaled(static_cast<int>(pixel >> 16 & 0xFFU), red_) |
           scaled(static_cast<int>(pixel >> 8 & 0xFFU), green_) |
           scaled(static_cast<int>(pixel & 0xFFU), blue_);
}

bool PixelsAsFilled(const ChannelMasks& masks, bool leastSignificantByteFirst, int bitsPerPixel) {
    return masks.red == 0xFF0000U && masks.green == 0xFF00U && masks.blue == 0xFFU &&
           leastSignificantByteFirst == (std::endian::native == std::endian::little) &&
           bitsPerPixel == 32;
}

}  // namespace digitmosaic
