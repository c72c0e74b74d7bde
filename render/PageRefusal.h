// When a prepared page is not sent: one check and one set of messages for
// every printer family. Each family declares what its commands can carry
// (FamilyLimits); the check compares the page about to be encoded with that
// and with the print head, and gives the reason for the user, or "".
#pragma once

#include <cstdint>
#include <string>

// What one family's commands can carry; 0: no limit of that kind.
struct FamilyLimits {
    // Bytes of one row in a raster command (the row as sent: some families
    // send whole stored rows, padding included).
    uint64_t rowBytes = 0;
    // Bytes of one bitmap (plane) in one command.
    uint64_t planeBytes = 0;
    // Whether the raster must fit the page's command buffer as a whole
    // (families that gather the rows before framing them).
    bool rasterInBuffer = false;
    // Whether the commands measure the page in lengths (millimetres), which
    // needs the page's resolution.
    bool needsResolution = false;
};

// The page as its family is about to encode it.
struct PageShape {
    uint64_t width = 0;      // dots
    uint64_t rowBytes = 0;   // bytes of one row as sent
    uint64_t rows = 0;       // rows of the raster as sent
    uint64_t planeBytes = 0; // bytes of the largest plane as sent
    int dpi = 0;             // horizontal resolution
};

// Why the page can't be sent, or "" when it can. headWidth: printable dots
// of the head, 0 when not declared. bufferLimit: the content limit of the
// page's command buffer, 0 when none.
std::string PageRefusal(const FamilyLimits &limits, const PageShape &page, int headWidth, int bufferLimit);

// The message for a preparation step (rotation, shift, planes) that would
// make an image of width x height beyond the page limits.
std::string OversizeRefusal(const char *step, uint64_t width, uint64_t height);
