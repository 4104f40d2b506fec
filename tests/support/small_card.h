#pragma once
// The layout of the small card images tests write with the card library's
// writer: a 16 MiB image, a 1 MiB FAT partition from sector 1 and 4 KiB
// clusters on the TAVO partition, unaligned, so that images stay small.

#include "tavo/tavo_writer.h"

namespace korvante::testing {

inline tavo::CardLayout smallCardLayout()
{
    tavo::CardLayout layout;
    layout.totalBytes = 16u << 20;
    layout.fatBytes = 1u << 20;
    layout.clusterBytes = 4096;
    layout.fatStartSector = 1;
    layout.alignSectors = 1;
    return layout;
}

} // namespace korvante::testing
