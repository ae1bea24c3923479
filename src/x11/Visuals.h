// How a true-colour visual lays out its pixels: where the channels of the 32-bit pixels that
// PendingBoxes fills go in the server's pixels, and whether they are those pixels already.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>

#include "core/PendingBoxes.h"

namespace digitmosaic {

// A visual's red, green and blue masks.
struct ChannelMasks {
    std::uint32_t red = 0, green = 0, blue = 0;
};

class ChannelShifts {
  public:
    explicit ChannelShifts(const ChannelMasks& masks);
    // The server's pixel for a 0xFFRRGGBB pixel: of each channel, as many of its highest bits as
    // the mask holds (at most 8), at the top of the mask.
    std::uint32_t ServerPixelOf(Pixel pixel) const;

  private:
    struct Channel {
        int shift;  // of the channel's lowest bit in a pixel
        int bits;
    } red_, green_, blue_;
    static Channel Of(std::uint32_t mask);
};

// Whether pixels of these masks and bits per pixel, in the server's image byte order, hold a pixel
// as the 32 bits that PendingBoxes fills (0x..RRGGBB) in this machine's byte order.
bool PixelsAsFilled(const ChannelMasks& masks, bool leastSignificantByteFirst, int bitsPerPixel);

// The visual's description when a window of it and of this depth can be painted (true colour, 15
// bits or more), else null.
const xcb_visualtype_t* TrueColorVisual(xcb_connection_t* connection, xcb_visualid_t visual,
                                        std::uint8_t depth);

}  // namespace digitmosaic
