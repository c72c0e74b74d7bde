#include "PictureDecode.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <png.h>

namespace {

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string SizeRefusal(unsigned long long width, unsigned long long height)
{
    char text[256];
    if (width == 0 || height == 0) {
        snprintf(text, sizeof text, "The picture is %llu x %llu pixels: it has nothing to print.", width, height);
        return text;
    }
    snprintf(text, sizeof text,
             "The picture is %llu x %llu pixels; pictures of up to %u pixels a side and %llu million pixels in all "
             "print. Make it smaller and print it again.",
             width, height, kMaxPictureSide, kMaxPicturePixels / 1000000);
    return text;
}

bool SizeAllowed(unsigned long long width, unsigned long long height)
{
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= kMaxPicturePixels;
}

uint32_t ReadBig32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

// One RGBA row (8 bits a channel) laid over white into the picture's row.
void StoreRow(const unsigned char *rgba, unsigned width, bool colour, unsigned char *out)
{
    for (unsigned x = 0; x < width; ++x, rgba += 4) {
        const unsigned a = rgba[3];
        unsigned rgb[3];
        for (int c = 0; c < 3; ++c)
            rgb[c] = (rgba[c] * a + 255 * (255 - a) + 127) / 255;
        if (colour) {
            for (int c = 0; c < 3; ++c)
                *out++ = static_cast<unsigned char>(rgb[c]);
        } else {
            *out++ = Luminance(rgb[0], rgb[1], rgb[2]);
        }
    }
}

// ----------------------------------------------------------------- PNG

struct PngState {
    jmp_buf jump;
    char message[200] = "";
};

void PngError(png_structp png, png_const_charp message)
{
    auto *state = static_cast<PngState *>(png_get_error_ptr(png));
    snprintf(state->message, sizeof state->message, "%s", message);
    longjmp(state->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// libpng and libjpeg report a damaged file by jumping back to where they
// were called from. STEP calls them, working only on buffers its caller
// holds, and keeps nothing with a destructor in its own frame: the jump
// leaves none behind. False when the library gave up.
template <class Step> bool Guarded(jmp_buf &jump, Step &&step)
{
    if (setjmp(jump))
        return false;
    step();
    return true;
}

// The rows go through `rgba`: one row, or the whole picture for an
// interlaced file (its passes fill the rows in turn).
std::string DecodePng(FILE *file, bool colour, Picture &picture)
{
    PngState state;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return "There is not enough memory to read the picture.";
    }
    png_uint_32 width = 0, height = 0;
    bool interlaced = false;
    int passes = 1;
    std::vector<unsigned char> rgba;
    std::string refusal;
    bool ok = Guarded(state.jump, [&] {
        png_init_io(png, file);
        png_read_info(png, info);
        width = png_get_image_width(png, info);
        height = png_get_image_height(png, info);
        interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    });
    if (ok && !SizeAllowed(width, height)) {
        refusal = SizeRefusal(width, height);
    } else if (ok && interlaced && static_cast<unsigned long long>(width) * height > kMaxPicturePixels / 4) {
        // Its passes need the whole picture at four bytes a pixel.
        refusal = "The picture is an interlaced PNG of more than " + std::to_string(kMaxPicturePixels / 4000000) +
                  " million pixels; save it without interlacing and print it again.";
    } else if (ok) {
        ok = Guarded(state.jump, [&] {
            png_set_expand(png);
            png_set_strip_16(png);
            png_set_gray_to_rgb(png);
            png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
            passes = png_set_interlace_handling(png);
            png_read_update_info(png, info);
        });
        picture.width = width;
        picture.height = height;
        picture.channels = colour ? 3 : 1;
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        const size_t outRow = static_cast<size_t>(width) * picture.channels;
        if (ok) {
            picture.pixels.resize(outRow * height);
            rgba.resize(rowBytes * (interlaced ? height : 1));
        }
        unsigned char *const buffer = rgba.data(), *const out = picture.pixels.data();
        ok = ok && Guarded(state.jump, [&] {
                 if (interlaced) {
                     for (int pass = 0; pass < passes; ++pass)
                         for (png_uint_32 y = 0; y < height; ++y)
                             png_read_row(png, buffer + y * rowBytes, nullptr);
                     for (png_uint_32 y = 0; y < height; ++y)
                         StoreRow(buffer + y * rowBytes, width, colour, out + y * outRow);
                 } else {
                     for (png_uint_32 y = 0; y < height; ++y) {
                         png_read_row(png, buffer, nullptr);
                         StoreRow(buffer, width, colour, out + y * outRow);
                     }
                 }
                 png_read_end(png, nullptr);
             });
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) {
        picture = Picture();
        return std::string("The PNG picture is damaged and was not printed (") + state.message + ").";
    }
    return refusal;
}

// ---------------------------------------------------------------- JPEG

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
    bool damaged = false; // a warning: corrupt or cut-off data
};

void JpegExit(j_common_ptr info)
{
    auto *error = reinterpret_cast<JpegError *>(info->err);
    (*info->err->format_message)(info, error->message);
    longjmp(error->jump, 1);
}

void JpegMessage(j_common_ptr info, int level)
{
    auto *error = reinterpret_cast<JpegError *>(info->err);
    if (level < 0 && !error->damaged) {
        error->damaged = true;
        (*info->err->format_message)(info, error->message);
    }
}

std::string DecodeJpeg(FILE *file, bool colour, Picture &picture)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegExit;
    error.manager.emit_message = JpegMessage;
    bool ok = Guarded(error.jump, [&] {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, file);
        jpeg_read_header(&info, TRUE);
    });
    if (ok && !SizeAllowed(info.image_width, info.image_height)) {
        const std::string refusal = SizeRefusal(info.image_width, info.image_height);
        jpeg_destroy_decompress(&info);
        return refusal;
    }
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    ok = ok && Guarded(error.jump, [&] { jpeg_start_decompress(&info); });
    std::vector<unsigned char> row, rgba;
    if (ok) {
        picture.width = info.output_width;
        picture.height = info.output_height;
        picture.channels = colour ? 3 : 1;
        picture.pixels.resize(static_cast<size_t>(picture.width) * picture.height * picture.channels);
        row.resize(static_cast<size_t>(info.output_width) * info.output_components);
        rgba.resize(static_cast<size_t>(info.output_width) * 4);
    }
    unsigned char *const in = row.data(), *const mixed = rgba.data(), *const out = picture.pixels.data();
    const size_t outRow = static_cast<size_t>(picture.width) * picture.channels;
    ok = ok && Guarded(error.jump, [&] {
             while (info.output_scanline < info.output_height && !error.damaged) {
                 const unsigned y = info.output_scanline;
                 JSAMPROW rows[1] = {in};
                 jpeg_read_scanlines(&info, rows, 1);
                 for (unsigned x = 0; x < info.output_width; ++x) {
                     unsigned char *p = mixed + x * 4;
                     if (cmyk) {
                         // Adobe's CMYK JPEGs store the inks inverted: 255 is no ink.
                         const unsigned char *s = in + x * 4;
                         for (int c = 0; c < 3; ++c)
                             p[c] = static_cast<unsigned char>((s[c] * s[3] + 127) / 255);
                     } else {
                         memcpy(p, in + x * 3, 3);
                     }
                     p[3] = 255;
                 }
                 StoreRow(mixed, info.output_width, colour, out + static_cast<size_t>(y) * outRow);
             }
             if (!error.damaged)
                 jpeg_finish_decompress(&info);
         });
    jpeg_destroy_decompress(&info);
    if (!ok) {
        picture = Picture();
        return std::string("The JPEG picture is damaged and was not printed (") + error.message + ").";
    }
    if (error.damaged) {
        picture = Picture();
        return std::string("The JPEG picture is damaged or cut off and was not printed (") + error.message + ").";
    }
    return std::string();
}

} // namespace

PictureFormat SniffPicture(const unsigned char *head, size_t size)
{
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && memcmp(head, png, 8) == 0)
        return PictureFormat::Png;
    if (size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return PictureFormat::Jpeg;
    return PictureFormat::Unknown;
}

std::string DecodePicture(const std::string &path, bool colour, Picture &picture)
{
    picture = Picture();
    File file(fopen(path.c_str(), "rb"));
    if (!file)
        return "The picture could not be opened.";
    unsigned char head[24] = {};
    const size_t n = fread(head, 1, sizeof head, file.get());
    rewind(file.get());
    switch (SniffPicture(head, n)) {
    case PictureFormat::Png:
        // The size first: libpng calls an empty picture's header invalid.
        if (n == sizeof head && memcmp(head + 12, "IHDR", 4) == 0) {
            const unsigned long long w = ReadBig32(head + 16), h = ReadBig32(head + 20);
            if (!SizeAllowed(w, h))
                return SizeRefusal(w, h);
        }
        return DecodePng(file.get(), colour, picture);
    case PictureFormat::Jpeg:
        return DecodeJpeg(file.get(), colour, picture);
    case PictureFormat::Unknown:
        break;
    }
    return "The document is neither a PNG nor a JPEG picture; it was not printed.";
}

bool WritePng(FILE *file, const Picture &picture)
{
    PngState state;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(picture.width) * picture.channels;
    const unsigned char *const pixels = picture.pixels.data();
    const bool ok = Guarded(state.jump, [&] {
        png_init_io(png, file);
        png_set_IHDR(png, info, picture.width, picture.height, 8,
                     picture.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (unsigned y = 0; y < picture.height; ++y)
            png_write_row(png, pixels + y * rowBytes);
        png_write_end(png, nullptr);
    });
    png_destroy_write_struct(&png, &info);
    return ok && fflush(file) == 0 && !ferror(file);
}
