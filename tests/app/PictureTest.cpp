// Pictures on the media (PageFit), the PNG and JPEG reader (PictureDecode)
// and the test page (TestPage): the app's PAPPL-free picture code.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "DriverTable.h"
#include "PageFit.h"
#include "PictureDecode.h"
#include "TestPage.h"

namespace {

Picture Grey(unsigned w, unsigned h, std::vector<unsigned char> pixels)
{
    Picture p;
    p.width = w;
    p.height = h;
    p.channels = 1;
    p.pixels = std::move(pixels);
    return p;
}

class TempFile {
public:
    TempFile()
    {
        char name[] = "/tmp/quillfeed-picture-test-XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0)
            close(fd);
        m_path = name;
    }
    ~TempFile() { unlink(m_path.c_str()); }
    const std::string &Path() const { return m_path; }
    std::string Read() const
    {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void Write(const std::string &bytes) const { std::ofstream(m_path, std::ios::binary) << bytes; }

private:
    std::string m_path;
};

void SavePng(const TempFile &file, const Picture &p)
{
    FILE *f = fopen(file.Path().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(WritePng(f, p));
    fclose(f);
}

void SaveJpeg(const TempFile &file, unsigned w, unsigned h, unsigned char r, unsigned char g, unsigned char b)
{
    FILE *f = fopen(file.Path().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = w;
    info.image_height = h;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(w * 3);
    for (unsigned x = 0; x < w; ++x) {
        row[x * 3] = r;
        row[x * 3 + 1] = g;
        row[x * 3 + 2] = b;
    }
    while (info.next_scanline < h) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    fclose(f);
}

// A PNG header that claims width x height, with a valid checksum.
std::string PngHeaderOnly(uint32_t w, uint32_t h)
{
    auto be = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    std::string ihdr = "IHDR" + be(w) + be(h) + std::string("\x08\x00\x00\x00\x00", 5);
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : ihdr) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return std::string("\x89PNG\r\n\x1a\n", 8) + be(13) + ihdr + be(~crc);
}

// ------------------------------------------------------------ PageFit

TEST(Luminance, ColoursTurnGreyByTheirBrightness)
{
    struct Case {
        unsigned r, g, b, grey;
    } cases[] = {{255, 255, 255, 255}, {0, 0, 0, 0}, {255, 0, 0, 76}, {0, 255, 0, 150}, {0, 0, 255, 29}};
    for (const Case &c : cases)
        EXPECT_EQ(Luminance(c.r, c.g, c.b), c.grey) << c.r << "," << c.g << "," << c.b;
}

TEST(TurnClockwise, TopRowBecomesRightColumn)
{
    // 3 x 2:  1 2 3      turned, 2 x 3:  4 1
    //         4 5 6                      5 2
    //                                    6 3
    Picture turned = TurnClockwise(Grey(3, 2, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(turned.width, 2u);
    EXPECT_EQ(turned.height, 3u);
    EXPECT_EQ(turned.pixels, (std::vector<unsigned char>{4, 1, 5, 2, 6, 3}));
}

TEST(OrientationDiffers, OnlyLandscapeAgainstPortrait)
{
    struct Case {
        unsigned w, h, pw, ph;
        bool differs;
    } cases[] = {{320, 240, 812, 1218, true}, {240, 320, 812, 1218, false}, {320, 240, 1218, 812, false},
                 {240, 320, 1218, 812, true}, {300, 300, 812, 1218, false}, {320, 240, 400, 400, false}};
    for (const Case &c : cases)
        EXPECT_EQ(OrientationDiffers(c.w, c.h, c.pw, c.ph), c.differs) << c.w << "x" << c.h;
}

TEST(PlaceOnPage, PictureOfThePagesSizeIsUnchanged)
{
    Picture in = Grey(4, 3, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110});
    for (Scaling s : {Scaling::Fit, Scaling::Fill, Scaling::None})
        EXPECT_EQ(PlaceOnPage(in, 4, 3, s).pixels, in.pixels);
}

TEST(PlaceOnPage, FitCentresTheWholePictureOnWhite)
{
    // A black 2 x 1 picture fitted to 4 x 4: 4 x 2, rows 1 and 2.
    Picture page = PlaceOnPage(Grey(2, 1, {0, 0}), 4, 4, Scaling::Fit);
    std::vector<unsigned char> expected(16, 255);
    std::fill(expected.begin() + 4, expected.begin() + 12, 0);
    EXPECT_EQ(page.pixels, expected);
}

TEST(PlaceOnPage, FillCoversThePageAndCutsTheSides)
{
    // 4 x 1: black, white, white, black, filled onto 2 x 2 (scale 2): the
    // middle white columns cover the page, the black ends are cut off.
    Picture page = PlaceOnPage(Grey(4, 1, {0, 255, 255, 0}), 2, 2, Scaling::Fill);
    EXPECT_EQ(page.pixels, (std::vector<unsigned char>{255, 255, 255, 255}));
}

TEST(PlaceOnPage, NoneKeepsDotForDotCentred)
{
    Picture page = PlaceOnPage(Grey(1, 1, {0}), 3, 3, Scaling::None);
    EXPECT_EQ(page.pixels, (std::vector<unsigned char>{255, 255, 255, 255, 0, 255, 255, 255, 255}));
}

TEST(PlaceOnPage, ShrinkingAveragesTheCoveredArea)
{
    Picture page = PlaceOnPage(Grey(2, 2, {0, 255, 255, 0}), 1, 1, Scaling::Fit);
    EXPECT_EQ(page.pixels, (std::vector<unsigned char>{128}));
}

TEST(PlaceOnPage, ColourStaysColour)
{
    Picture red;
    red.width = red.height = 1;
    red.channels = 3;
    red.pixels = {255, 0, 0};
    Picture page = PlaceOnPage(red, 1, 2, Scaling::None);
    EXPECT_EQ(page.channels, 3u);
    EXPECT_EQ(page.pixels, (std::vector<unsigned char>{255, 0, 0, 255, 255, 255}));
}

RasterImage Page(const std::vector<unsigned char> &data, unsigned w, unsigned h, unsigned bpp)
{
    RasterImage r;
    r.data = data.data();
    r.width = w;
    r.height = h;
    r.bitsPerPixel = bpp;
    r.bytesPerLine = (w * bpp + 7) / 8;
    r.xDpi = r.yDpi = 203;
    return r;
}

TEST(FitPageToMedia, PagesWithinTheSlackAreLeftAlone)
{
    std::vector<unsigned char> data(401 * 241, 0), store;
    FitTarget media{400, 240, 8, 0};
    RasterImage out = FitPageToMedia(Page(data, 401, 241, 8), media, store);
    EXPECT_EQ(out.data, data.data());
    EXPECT_EQ(out.width, 401u);
}

TEST(FitPageToMedia, LetterOnALabelIsFittedWhole)
{
    // Letter at 203 dpi on a 4 x 6 in label: scaled by 812 / 1725.
    std::vector<unsigned char> data(1725u * 2233u, 0), store;
    FitTarget media{812, 1218, 8, 832};
    RasterImage out = FitPageToMedia(Page(data, 1725, 2233, 8), media, store);
    EXPECT_EQ(out.width, 812u);
    EXPECT_EQ(out.height, 1218u);
    EXPECT_EQ(out.bitsPerPixel, 8u);
    EXPECT_EQ(out.data, store.data());
    // 2233 * 812 / 1725 = 1051 rows of page, centred: white above and below.
    const auto *p = static_cast<const unsigned char *>(out.data);
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[609u * 812u + 400u], 0);
    EXPECT_EQ(p[1217u * 812u], 255);
}

TEST(FitPageToMedia, WiderThanTheHeadIsFittedEvenWithinTheSlack)
{
    std::vector<unsigned char> data(836u * 10u, 0), store;
    FitTarget media{832, 1218, 8, 832};
    EXPECT_EQ(FitPageToMedia(Page(data, 836, 10, 8), media, store).width, 832u);
}

TEST(FitPageToMedia, OneBitPagesBecomeGreyWithTheirDots)
{
    // 16 x 2 one-bit page (1 = white), first byte of each row black.
    std::vector<unsigned char> data{0x00, 0xFF, 0x00, 0xFF}, store;
    FitTarget media{8, 1, 0, 0};
    RasterImage out = FitPageToMedia(Page(data, 16, 2, 1), media, store);
    ASSERT_EQ(out.width, 8u);
    ASSERT_EQ(out.height, 1u);
    const auto *p = static_cast<const unsigned char *>(out.data);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[7], 255);
}

// A 300 dpi page for a 203 dpi printer prints at its own size: 3 x 1.5 in
// is 609 x 305 dots, whether or not it is also fitted to the media.
TEST(FitPageToMedia, PageOfAnotherResolutionIsScaledToThePrinters)
{
    struct Case {
        FitTarget target;
        unsigned width, height;
    } cases[] = {
        {{0, 0, 0, 0, 203, 203}, 609, 305},        // print-scaling none: no media to fit
        {{812, 1218, 8, 832, 203, 203}, 609, 305}, // smaller than the media
        {{406, 1218, 8, 832, 203, 203}, 406, 305}, // then fitted into a 2 in label's width
    };
    std::vector<unsigned char> data(900u * 450u, 0);
    for (const Case &c : cases) {
        std::vector<unsigned char> store;
        RasterImage page = Page(data, 900, 450, 8);
        page.xDpi = page.yDpi = 300;
        const RasterImage out = FitPageToMedia(page, c.target, store);
        EXPECT_EQ(out.width, c.width) << c.target.width;
        EXPECT_EQ(out.height, c.height) << c.target.width;
        EXPECT_EQ(out.xDpi, 203);
        const auto *middle = static_cast<const unsigned char *>(out.data) + (c.height / 2) * c.width + c.width / 2;
        EXPECT_EQ(*middle, 0); // the page's ink, not white
    }
}

TEST(FitPageToMedia, NoTargetNeverFits)
{
    std::vector<unsigned char> data(2000, 0), store;
    EXPECT_EQ(FitPageToMedia(Page(data, 2000, 1, 8), FitTarget{}, store).width, 2000u);
}

// ------------------------------------------------------ PictureDecode

TEST(DecodePicture, PngRoundTripInGrey)
{
    TempFile file;
    Picture in = Grey(3, 2, {0, 128, 255, 7, 8, 9});
    SavePng(file, in);
    Picture out;
    EXPECT_EQ(DecodePicture(file.Path(), false, out), "");
    EXPECT_EQ(out.width, 3u);
    EXPECT_EQ(out.pixels, in.pixels);
}

TEST(DecodePicture, ColourPngTurnsGreyByLuminanceOrStaysColour)
{
    TempFile file;
    Picture red;
    red.width = red.height = 1;
    red.channels = 3;
    red.pixels = {255, 0, 0};
    SavePng(file, red);
    Picture grey, colour;
    EXPECT_EQ(DecodePicture(file.Path(), false, grey), "");
    EXPECT_EQ(grey.pixels, (std::vector<unsigned char>{76}));
    EXPECT_EQ(DecodePicture(file.Path(), true, colour), "");
    EXPECT_EQ(colour.pixels, red.pixels);
}

TEST(DecodePicture, JpegDecodes)
{
    TempFile file;
    SaveJpeg(file, 16, 8, 0, 0, 0);
    Picture out;
    EXPECT_EQ(DecodePicture(file.Path(), false, out), "");
    EXPECT_EQ(out.width, 16u);
    EXPECT_EQ(out.height, 8u);
    EXPECT_LT(out.pixels[0], 8);
}

struct BadCase {
    const char *what;
    std::string (*bytes)();
    const char *says;
};

TEST(DecodePicture, BadFilesGiveAReasonQuickly)
{
    static TempFile goodPng, goodJpeg;
    SavePng(goodPng, Grey(64, 64, std::vector<unsigned char>(64 * 64, 0)));
    SaveJpeg(goodJpeg, 64, 64, 10, 20, 30);
    static std::string png = goodPng.Read(), jpeg = goodJpeg.Read();
    const BadCase cases[] = {
        {"cut-off PNG", [] { return png.substr(0, png.size() / 2); }, "damaged"},
        {"cut-off JPEG", [] { return jpeg.substr(0, jpeg.size() / 2); }, "damaged"},
        {"0 x 0 PNG", [] { return PngHeaderOnly(0, 0); }, "0 x 0 pixels"},
        {"60000 x 60000 PNG", [] { return PngHeaderOnly(60000, 60000); }, "60000 x 60000 pixels"},
        {"PNG header only", [] { return PngHeaderOnly(10, 10); }, "damaged"},
        {"text", [] { return std::string("hello\n"); }, "neither a PNG nor a JPEG"},
        {"empty file", [] { return std::string(); }, "neither a PNG nor a JPEG"},
    };
    for (const BadCase &c : cases) {
        TempFile file;
        file.Write(c.bytes());
        Picture out;
        const auto start = std::chrono::steady_clock::now();
        const std::string reason = DecodePicture(file.Path(), false, out);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_NE(reason.find(c.says), std::string::npos) << c.what << ": " << reason;
        EXPECT_TRUE(out.pixels.empty()) << c.what;
        EXPECT_LT(took, std::chrono::seconds(1)) << c.what;
    }
}

TEST(DecodePicture, MissingFile)
{
    Picture out;
    EXPECT_EQ(DecodePicture("/nonexistent/picture.png", false, out), "The picture could not be opened.");
}

// ------------------------------------------------------------ TestPage

TEST(Code128, StartDataCheckAndStop)
{
    // "AB" in code set B: start 104, A = 33, B = 34, check (104 + 33 + 2 *
    // 34) mod 103 = 102, stop.
    const std::vector<int> expected{2, 1, 1, 2, 1, 4, 1, 1, 1, 3, 2, 3, 1, 3, 1, 1,
                                    2, 3, 4, 1, 1, 1, 3, 1, 2, 3, 3, 1, 1, 1, 2};
    EXPECT_EQ(Code128Modules("AB"), expected);
}

TEST(Code128, EverySymbolIsElevenModules)
{
    for (const char *text : {"", "tspl-203", "escpos-80", "~ {}|"}) {
        int total = 0;
        for (int m : Code128Modules(text))
            total += m;
        EXPECT_EQ(total, 11 * (static_cast<int>(strlen(text)) + 2) + 13) << text;
    }
}

TEST(TestPage, FrameOnTheOutermostDotsAndSizedToTheMedia)
{
    for (const PpdModel &m : AllModels()) {
        Picture page = MakeTestPage(m, 384, 240);
        ASSERT_EQ(page.width, 384u);
        ASSERT_EQ(page.height, 240u);
        for (unsigned x = 0; x < page.width; ++x) {
            EXPECT_EQ(page.pixels[x], 0) << m.driverName << " top, x " << x;
            EXPECT_EQ(page.pixels[(page.height - 1) * page.width + x], 0) << m.driverName << " bottom";
        }
        for (unsigned y = 0; y < page.height; ++y) {
            EXPECT_EQ(page.pixels[y * page.width], 0) << m.driverName << " left, y " << y;
            EXPECT_EQ(page.pixels[y * page.width + page.width - 1], 0) << m.driverName << " right";
        }
        // Just inside the frame: a white dot, then the dotted frame.
        EXPECT_EQ(page.pixels[1 * page.width + 100], 255) << m.driverName;
        EXPECT_EQ(page.pixels[2 * page.width + 100], 0) << m.driverName;
        EXPECT_EQ(page.pixels[2 * page.width + 101], 255) << m.driverName;
    }
}

TEST(TestPage, TheBarcodeStaysInsideNarrowMedia)
{
    // 25 mm at 203 dpi: "tspl-2colour-203" needs 231 modules with its quiet
    // zones, more than the 168 dots inside the margins. Below the ramp,
    // between the grid's ticks (to 14 dots from the edge) and the 16-dot
    // margin, nothing prints.
    const unsigned w = 200, h = 160;
    for (const PpdModel &m : AllModels()) {
        Picture page = MakeTestPage(m, w, h);
        unsigned barRows = 0;
        for (unsigned y = h / 2; y < h - 16; ++y) {
            unsigned inside = 0;
            for (unsigned x = 14; x < w - 14; ++x) {
                const bool black = page.pixels[y * w + x] == 0;
                inside += black;
                if (x < 16 || x >= w - 16) {
                    EXPECT_FALSE(black) << m.driverName << " x " << x << " y " << y;
                }
            }
            barRows += inside > 20;
        }
        EXPECT_GT(barRows, 10u) << m.driverName;
    }
}

TEST(TestPage, TinyMediaIsBlankNotACrash)
{
    Picture page = MakeTestPage(AllModels().front(), 8, 8);
    EXPECT_EQ(page.pixels, std::vector<unsigned char>(64, 255));
}

} // namespace
