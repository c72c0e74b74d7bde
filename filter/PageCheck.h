// Checks a raster page header before anything is allocated for the page.
#pragma once

#include <cups/raster.h>

#include <cstdint>

// Largest page the filter takes, in raster bytes. The image engine refuses
// more than this in pixels anyway; checking here, in 64 bits, keeps a hostile
// header from overflowing the buffer arithmetic.
constexpr uint64_t kMaxPageBytes = 268435456; // 256 MiB

enum class PageVerdict {
    Ok,
    TooLarge,   // raster or page image above kMaxPageBytes
    ShortLines, // fewer bytes per line than the pixels of a line need
};

// Bytes of one raster line the page image needs. 32-bit pages are read four
// bytes per pixel whatever the header says.
uint64_t NeededBytesPerLine(const cups_page_header2_t &header);

PageVerdict CheckPageHeader(const cups_page_header2_t &header);
