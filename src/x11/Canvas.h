// What keeps a window's picture and puts it on screen: the boxes of each present filled in, and
// the strips that changed (or that the server lost) shown again. Two kinds: the picture in memory
// shared with the X server (SharedMemoryCanvas), or in a pixmap on the server (PixmapCanvas) where
// the server cannot share this process's memory.
#pragma once

#include <vector>

#include "core/PendingBoxes.h"

namespace digitmosaic {

class Canvas {
  public:
    virtual ~Canvas() = default;

    // Sizes the picture, keeping the earlier pictures where they were and black elsewhere; false
    // when no picture of that size can be had this way (then nothing is kept).
    virtual bool Resize(int width, int height) = 0;
    // Fills the boxes into the picture.
    virtual void Fill(const PendingBoxes& boxes) = 0;
    // Puts the strips of the picture in the window and sends what is queued.
    virtual void Show(const std::vector<Strip>& strips) = 0;
};

}  // namespace digitmosaic
