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

namespace {

const xcb_visualtype_t* FindVisual(xcb_connection_t* connection, xcb_visualid_t visual) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    for (auto screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen)) {
        for (auto d = xcb_screen_allowed_depths_iterator(screen.data); d.rem; xcb_depth_next(&d)) {
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id == visual) {
                    return v.data;
                }
            }
        }
    }
    return nullptr;
}

}  // namespace

const xcb_visualtype_t* TrueColorVisual(xcb_connection_t* connection, xcb_visualid_t visual,
                                        std::uint8_t depth) {
    const xcb_visualtype_t* type = FindVisual(connection, visual);
    const bool usable = type && type->_class == XCB_VISUAL_CLASS_TRUE_COLOR && depth >= 15 &&
                        type->red_mask && type->green_mask && type->blue_mask;
    return usable ? type : nullptr;
}

}  // namespace digitmosaic
