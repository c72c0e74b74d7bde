// PNG and JPEG files decoded into a Picture (PageFit.h), with libpng and
// libjpeg. A damaged file, a cut-off one or one larger than the limits below
// gives a sentence for the user instead of a picture; no file makes it loop
// or allocate more than the limits allow.
#pragma once

#include <cstdio>
#include <string>

#include "PageFit.h"

// The largest picture taken: a side and the pixels in all. A 64-megapixel
// photo fits; the sizes of corrupted or hostile headers do not.
constexpr unsigned kMaxPictureSide = 20000;
constexpr unsigned long long kMaxPicturePixels = 64ull * 1000 * 1000;

enum class PictureFormat { Unknown, Png, Jpeg };

// The format from the first bytes of a file.
PictureFormat SniffPicture(const unsigned char *head, size_t size);

// Decodes `path` into grey (colour == false) or sRGB; transparency is laid
// over white. Returns "" on success, else why the picture cannot print.
std::string DecodePicture(const std::string &path, bool colour, Picture &picture);

// Writes `picture` as an 8-bit PNG; false when the file could not be
// written.
bool WritePng(FILE *file, const Picture &picture);
