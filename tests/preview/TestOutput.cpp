// Language detection, page comparison, PNG output, hostile input, and the
// command-line tool itself.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "PngWriter.h"
#include "StreamKit.h"

namespace qf::preview::test {
namespace {

TEST(Detect, FirstBytesNameTheLanguage)
{
    struct Case {
        Bytes start;
        Lang lang;
    } cases[] = {
        {{0xA5, 0x01}, Lang::Paperang},
        {{0x10, 0xFF, 0xFE, 0x01}, Lang::PeriPage},
        {{0x1B, 0x40, 0x00}, Lang::ESCPOS},
        {{0x1B, 0x70, 0x00}, Lang::ESCPOS},
        {{0x1D, 0x56, 0x30}, Lang::ESCPOS},
        {{'!', ' ', '0'}, Lang::CPCL},
        {{'S', 'I', 'Z', 'E', ' '}, Lang::TSPL},
        {{'S', 'I', 'Z', 'E'}, Lang::Auto},
        {{0x10, 0xFF, 0xFE, 0x45}, Lang::Auto},
        {{0x1D, 0x76, 0x30}, Lang::Auto},
        {{}, Lang::Auto},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DetectLang(c.start.data(), c.start.size()), c.lang) << Hex(c.start.data(), c.start.size());
}

TEST(Detect, UnknownAndEmptyStreamsFailAtByteZero)
{
    for (const Bytes &b : {Bytes{}, Bytes{'H', 'e', 'l', 'l', 'o'}}) {
        DecodeResult r = Decode(b);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorOffset, 0u);
        EXPECT_EQ(r.ErrorMessage().rfind("error at byte 0: expected ", 0), 0u) << r.ErrorMessage();
    }
    // A named language overrides detection.
    EXPECT_TRUE(Decode(CpclPage(RandomPage(8, 2, 1), false), Lang::CPCL).ok);
    EXPECT_FALSE(Decode(CpclPage(RandomPage(8, 2, 1), false), Lang::TSPL).ok);
}

TEST(Compare, FindsEveryKindOfDifference)
{
    Prepared img = RandomPage(21, 4, 3); // stride 4, 3 padding bits in byte 2
    Plane same = PlaneFromOneBit(img.bits.data(), 21, 4, img.stride, true);
    EXPECT_EQ(same.widthBytes, 3);
    EXPECT_EQ(Diff(same, img), "");
    Plane flipped = same;
    flipped.bits[5] ^= 0x04; // row 1, column 21: a padding dot
    EXPECT_NE(Diff(flipped, img), "");
    Plane inside = same;
    inside.bits[4] ^= 0x80; // row 1, column 8
    EXPECT_NE(Diff(inside, img).find("dot 8,1"), std::string::npos);
    Plane shorter = same;
    shorter.height = 3;
    EXPECT_NE(Diff(shorter, img), "");
    Plane narrower = same;
    narrower.widthBytes = 2;
    narrower.bits.resize(8);
    EXPECT_NE(Diff(narrower, img), "");
    // Dots as 1 bits compare the same way.
    EXPECT_EQ(CompareWithOneBit(same, Negated(img.bits).data(), 21, 4, img.stride, false), "");
}

// Reads a PNG back as RGB.
bool ReadPng(const std::string &path, int &width, int &height, Bytes &rgb)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    rgb.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return false;
    width = int(image.width);
    height = int(image.height);
    return true;
}

// Expects the PNG to show the planes: black dots black, red dots red, else white.
void ExpectPicture(const std::string &path, const Plane &black, const Plane *red)
{
    int w = 0, h = 0;
    Bytes rgb;
    ASSERT_TRUE(ReadPng(path, w, h, rgb)) << path;
    int wantW = std::max(black.WidthDots(), red ? red->WidthDots() : 0);
    int wantH = std::max(black.height, red ? red->height : 0);
    ASSERT_EQ(w, wantW);
    ASSERT_EQ(h, wantH);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t *px = &rgb[(size_t(y) * w + x) * 3];
            uint8_t r = 255, g = 255, b = 255;
            if (black.Dot(x, y))
                r = g = b = 0;
            else if (red && red->Dot(x, y))
                g = b = 0;
            ASSERT_TRUE(px[0] == r && px[1] == g && px[2] == b) << "pixel " << x << "," << y;
        }
}

std::string TempDir(const char *name)
{
    std::string dir = ::testing::TempDir() + "qf-preview-" + name + "-" + std::to_string(getpid());
    std::string cmd = "rm -rf '" + dir + "' && mkdir -p '" + dir + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return dir;
}

TEST(Png, PagesBecomeGreyOrColourPictures)
{
    std::string dir = TempDir("png");
    Prepared red = RandomPage(50, 9, 1);
    DecodeResult r = Decode(TsplPage(RandomPage(37, 12, 2), true, &red));
    ASSERT_TRUE(r.ok) << r.ErrorMessage();
    std::string error;
    ASSERT_TRUE(WritePagePng(r.pages[0], dir + "/two.png", error)) << error;
    ExpectPicture(dir + "/two.png", r.pages[0].black, &*r.pages[0].red);

    DecodeResult one = Decode(EscPosPage(RandomPage(61, 7, 3), -1, false));
    ASSERT_TRUE(one.ok);
    ASSERT_TRUE(WritePagePng(one.pages[0], dir + "/one.png", error)) << error;
    ExpectPicture(dir + "/one.png", one.pages[0].black, nullptr);

    EXPECT_FALSE(WritePagePng(one.pages[0], dir + "/missing/one.png", error));
    EXPECT_NE(error.find("cannot create"), std::string::npos);
    std::filesystem::remove_all(dir);
}

// Hostile input: every truncation and many single-byte changes of good
// streams of every family must decode without touching memory outside the
// input (the sanitizer build checks that) and report an offset inside it.
TEST(Robustness, TruncatedAndDamagedStreamsNeverEscapeTheInput)
{
    Prepared p = RandomPage(70, 5, 17);
    const Bytes streams[] = {TsplPage(p, false),    TsplPage(p, true, &p),  CpclPage(p, true), EscPosPage(p, 300, true),
                             PeriPagePage(p, true), PeriPagePage(p, false), PaperangPage(p)};
    std::mt19937 rng(5);
    for (const Bytes &good : streams) {
        Lang lang = DetectLang(good.data(), good.size());
        ASSERT_TRUE(Decode(good).ok);
        for (size_t n = 0; n < good.size(); ++n) {
            Bytes cut(good.begin(), good.begin() + n);
            DecodeResult r = Decode(cut, lang);
            if (!r.ok) {
                EXPECT_LE(r.errorOffset, n);
            }
            EXPECT_TRUE(r.pages.empty() || lang == Lang::ESCPOS || lang == Lang::Paperang)
                << LangName(lang) << " cut at " << n;
        }
        for (int i = 0; i < 300; ++i) {
            Bytes bad = good;
            bad[rng() % bad.size()] ^= uint8_t(1 + rng() % 255);
            DecodeResult r = Decode(bad, lang);
            if (!r.ok) {
                EXPECT_LE(r.errorOffset, bad.size());
            }
        }
    }
}

#ifdef QF_PREVIEW_EXE
struct ToolRun {
    int status;
    std::string out, err;
};

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ToolRun Tool(const std::string &dir, const std::string &args)
{
    // QF_TEST_RUNNER: the emulator that runs a build for another machine.
    const char *runner = getenv("QF_TEST_RUNNER");
    std::string cmd = (runner && *runner ? std::string(runner) + " " : std::string()) + "'" QF_PREVIEW_EXE "' " + args +
                      " >'" + dir + "/stdout' 2>'" + dir + "/stderr'";
    int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir + "/stdout"), Slurp(dir + "/stderr")};
}

void Save(const std::string &path, const Bytes &b)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

TEST(Cli, WritesPagesAndListingAndReportsTheVerdict)
{
    std::string dir = TempDir("cli");
    Prepared black = RandomPage(100, 16, 4), red = RandomPage(64, 20, 5), second = RandomPage(33, 3, 6);
    Bytes tspl = TsplPage(black, false, &red);
    Put(tspl, TsplPage(second, true));
    Save(dir + "/label.tspl", tspl);

    ToolRun ok = Tool(dir, "-o '" + dir + "/out' '" + dir + "/label.tspl'");
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.out, "");
    DecodeResult r = Decode(tspl);
    ASSERT_EQ(r.pages.size(), 2u);
    ExpectPicture(dir + "/out/page-1.png", r.pages[0].black, &*r.pages[0].red);
    ExpectPicture(dir + "/out/page-2.png", r.pages[1].black, nullptr);
    EXPECT_EQ(Slurp(dir + "/out/listing.txt"), FormatListing(r));

    // Standard input with a named language; the listing goes to stdout.
    Save(dir + "/strip.bin", PaperangPage(second));
    ToolRun piped = Tool(dir, "--lang paperang - <'" + dir + "/strip.bin'");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_NE(piped.out.find("begin printing"), std::string::npos) << piped.out;

    Bytes broken = tspl;
    size_t at = Replace(broken, "PRINT 1,1", "PRINT 1;1");
    Save(dir + "/broken.tspl", broken);
    ToolRun bad = Tool(dir, "-o '" + dir + "/bad' '" + dir + "/broken.tspl'");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "quillfeed-preview: error at byte " + std::to_string(at + 7) +
                           ": expected CR LF ending the PRINT line\n");

    EXPECT_EQ(Tool(dir, "--lang zpl '" + dir + "/label.tspl'").status, 2);
    EXPECT_EQ(Tool(dir, "--frobnicate '" + dir + "/label.tspl'").status, 2);
    EXPECT_EQ(Tool(dir, "'" + dir + "/no-such-file'").status, 2);
    EXPECT_EQ(Tool(dir, "").status, 2);
    ToolRun help = Tool(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: quillfeed-preview"), std::string::npos);
    std::filesystem::remove_all(dir);
}
#endif

} // namespace
} // namespace qf::preview::test
