// The program's icon artwork, encoded as an icon group: the group directory
// and one icon image per size and depth.
#pragma once

#include <utility>
#include <vector>

#include "platform/win32/types.h"

struct IconSpec {
    int size;      // pixels, square
    int bitCount;  // 4, 8, 24 or 32
    int variant;   // 0: the usual tile; 1: a second colouring
};

struct IconGroup {
    std::vector<BYTE> directory;                           // the group resource
    std::vector<std::pair<WORD, std::vector<BYTE>>> images;  // id, image resource
};

// Images get the ids firstImageId, firstImageId + 1, ...
IconGroup BuildIconGroup(const std::vector<IconSpec>& specs, WORD firstImageId);
