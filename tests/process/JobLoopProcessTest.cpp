// The filter as CUPS runs it: arguments, inputs, the page loop, cancellation,
// refused pages and every failure exit, checked on stdout, stderr, the
// system log and the exit status of the real binary.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "FilterRun.h"

namespace {

int Count(const std::vector<uint8_t> &out, const std::string &needle)
{
    int n = 0;
    auto it = out.begin();
    while ((it = std::search(it, out.end(), needle.begin(), needle.end())) != out.end()) {
        ++n;
        it += static_cast<long>(needle.size());
    }
    return n;
}

std::vector<uint8_t> ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool StartsWithLine(const FilterResult &r, const std::string &prefix)
{
    return std::any_of(r.errLines.begin(), r.errLines.end(),
                       [&](const std::string &l) { return l.rfind(prefix, 0) == 0; });
}

// A page with a distinct pattern per page number, so pages can be told apart.
RasterPage Page1Bit(unsigned width, unsigned height, int seed)
{
    RasterPage page = MakeWhitePage(width, height, 1, 203, 203);
    for (size_t i = 0; i < page.data.size(); ++i)
        page.data[i] = static_cast<uint8_t>((i * 7 + static_cast<size_t>(seed) * 31) & 0xFF);
    return page;
}

class JobLoop : public ::testing::Test {
protected:
    TempDir dir;
    std::string ppd = WritePpd(dir.path(), TestPpd{});

    std::string Raster(const std::vector<RasterPage> &pages, RasterFormat f = RasterFormat::Uncompressed)
    {
        static int n = 0;
        std::string path = dir.File("job" + std::to_string(++n) + ".ras");
        EXPECT_TRUE(WriteRasterFile(path, pages, f));
        return path;
    }
};

TEST_F(JobLoop, WrongArgumentCountsPrintUsage)
{
    for (std::vector<std::string> args : {std::vector<std::string>{"1", "u", "t", "1"},
                                          std::vector<std::string>{"1", "u", "t", "1", "", "f", "extra"}}) {
        FilterCall call;
        call.args = args;
        call.ppd = ppd;
        FilterResult r = RunFilter(call);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_TRUE(r.out.empty());
        EXPECT_TRUE(r.HasErrLine("ERROR: quillfeed job-id user title copies options [file]")) << r.err;
    }
}

TEST_F(JobLoop, MissingRasterFileFailsAfterAPause)
{
    FilterCall call;
    call.ppd = ppd;
    call.inputFile = dir.File("missing.ras");
    FilterResult r = RunFilter(call);
    EXPECT_EQ(r.exitStatus, 1);
    // libcups writes this one as "ERROR:text: reason", without a blank.
    EXPECT_TRUE(StartsWithLine(r, "ERROR:Unable to open raster file: ")) << r.err;
    EXPECT_GE(r.seconds, 0.9);
    EXPECT_TRUE(r.out.empty());
}

TEST_F(JobLoop, UnopenablePpdIsReportedWithTheParserError)
{
    for (bool unset : {true, false}) {
        FilterCall call;
        call.inputFile = Raster({Page1Bit(320, 240, 1)});
        call.unsetPpd = unset;
        call.ppd = dir.File("missing.ppd");
        FilterResult r = RunFilter(call);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_TRUE(r.HasErrLine("ERROR: The PPD file could not be opened.")) << r.err;
        ASSERT_FALSE(r.errLines.empty());
        const std::string &last = r.errLines.back();
        EXPECT_EQ(last.rfind("DEBUG: ", 0), 0u) << last;
        EXPECT_NE(last.find(" on line "), std::string::npos) << last;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST_F(JobLoop, UnknownModelNumberCreatesNoRenderer)
{
    TestPpd printer;
    printer.modelNumber = 99;
    FilterCall call;
    call.ppd = WritePpd(dir.path(), printer);
    call.inputFile = Raster({Page1Bit(320, 240, 1)});
    FilterResult r = RunFilter(call);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(r.HasErrLine("ERROR: Unknow ModelNumber.")) << r.err;
    EXPECT_TRUE(r.HasSyslog("ERR: Unknow ModelNumber = 99"));
    EXPECT_FALSE(r.HasSyslog("CCupsRender::GetPrinterParameters"));
    EXPECT_TRUE(r.out.empty());
}

TEST_F(JobLoop, EmptyStreamStillRunsTheDocumentHooks)
{
    FilterCall call;
    call.ppd = ppd;
    call.inputFile = dir.File("empty.ras");
    std::ofstream(call.inputFile).close();
    FilterResult r = RunFilter(call);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(r.HasErrLine("ERROR: No pages were found.")) << r.err;
    EXPECT_TRUE(r.HasSyslog("CCupsRender::GetPrinterParameters"));
    EXPECT_TRUE(r.HasSyslog("ModelName=Test Printer"));
    EXPECT_TRUE(r.HasSyslog("ModelNumber = 20"));
}

TEST_F(JobLoop, ThreePagesFromFileAndFromStdinGiveTheSameJob)
{
    std::vector<RasterPage> pages = {Page1Bit(320, 240, 1), Page1Bit(320, 240, 2), Page1Bit(320, 240, 3)};
    std::string path = Raster(pages);

    FilterCall fromFile;
    fromFile.ppd = ppd;
    fromFile.inputFile = path;
    FilterResult a = RunFilter(fromFile);

    FilterCall fromStdin;
    fromStdin.ppd = ppd;
    fromStdin.stdinData = ReadFile(path);
    FilterResult b = RunFilter(fromStdin);

    for (const FilterResult *r : {&a, &b}) {
        EXPECT_EQ(r->exitStatus, 0) << r->err;
        std::vector<std::string> expected;
        for (int p = 1; p <= 3; ++p) {
            expected.push_back("PAGE: " + std::to_string(p) + " 1");
            expected.push_back("INFO: Starting page " + std::to_string(p) + ".");
            expected.push_back("INFO: Finished page " + std::to_string(p) + ".");
        }
        EXPECT_EQ(r->errLines, expected);
        EXPECT_EQ(Count(r->out, "\r\nPRINT 1,1\r\n"), 3);
        EXPECT_EQ(r->CountSyslog("DEBUG: cupsWidth = 320"), 3);
        EXPECT_EQ(r->CountSyslog("create image width=320, height=240, bitsPerPixel=1, bytesPerLine=40"), 3);
    }
    EXPECT_EQ(a.out, b.out);
}

TEST_F(JobLoop, SigtermDuringAPageFinishesThatPageOnly)
{
    std::vector<RasterPage> pages = {Page1Bit(320, 240, 1), Page1Bit(320, 240, 2), Page1Bit(320, 240, 3)};
    std::vector<uint8_t> stream = ReadFile(Raster(pages));
    // Hold the stream in the middle of page 2's rows: the filter is then
    // inside page 2 when the signal arrives.
    const size_t pageBytes = 40 * 240;
    const size_t headerBytes = (stream.size() - 4 - 3 * pageBytes) / 3;
    FilterCall call;
    call.ppd = ppd;
    call.stdinData = stream;
    call.holdStdinAt = 4 + headerBytes + pageBytes + headerBytes + pageBytes / 2;
    call.onStderr = [](const std::string &err, int pid) {
        if (err.find("Starting page 2.") == std::string::npos)
            return false;
        kill(pid, SIGTERM);
        return true;
    };
    FilterResult r = RunFilter(call);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.HasErrLine("INFO: Finished page 2.")) << r.err;
    EXPECT_FALSE(r.HasErrLine("PAGE: 3 1")) << r.err;
    EXPECT_EQ(Count(r.out, "\r\nPRINT 1,1\r\n"), 2);
}

TEST_F(JobLoop, OversizedPageIsRefusedAndTheNextPagePrints)
{
    // 32768 x 65537 one-bit pixels is just over 256 MiB of raster; white rows
    // compress to almost nothing, so the file stays small.
    RasterPage huge;
    huge.header = MakePageHeader(32768, 65537, 1, 203, 203);
    huge.data.assign(4096, 0xFF);
    huge.rowsToWrite = 1;
    std::vector<RasterPage> pages = {huge};
    // Write all its rows: the same white row repeated.
    std::string path = dir.File("huge.ras");
    {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
        ASSERT_TRUE(cupsRasterWriteHeader2(ras, &huge.header));
        for (unsigned y = 0; y < huge.header.cupsHeight; ++y)
            ASSERT_EQ(cupsRasterWritePixels(ras, huge.data.data(), 4096), 4096u);
        RasterPage next = Page1Bit(320, 240, 2);
        ASSERT_TRUE(cupsRasterWriteHeader2(ras, &next.header));
        ASSERT_EQ(cupsRasterWritePixels(ras, next.data.data(), static_cast<unsigned>(next.data.size())),
                  next.data.size());
        cupsRasterClose(ras);
        close(fd);
    }
    FilterCall call;
    call.ppd = ppd;
    call.inputFile = path;
    FilterResult r = RunFilter(call);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(StartsWithLine(r, "ERROR: Page 1 is too large to print")) << r.err;
    EXPECT_FALSE(r.HasErrLine("INFO: Finished page 1."));
    EXPECT_TRUE(r.HasErrLine("INFO: Finished page 2.")) << r.err;
    EXPECT_EQ(Count(r.out, "\r\nPRINT 1,1\r\n"), 1);
    EXPECT_EQ(Count(r.out, "BITMAP 0,0,40,240,1,"), 1);
}

TEST_F(JobLoop, ShortPageIsFilledWithWhite)
{
    RasterPage page = MakeWhitePage(320, 240, 1, 203, 203);
    page.rowsToWrite = 100;
    RasterPage empty = page;
    empty.rowsToWrite = 0;
    FilterCall call;
    call.ppd = ppd;
    // A page the stream ends before is refused, not printed as filler.
    call.inputFile = Raster({Page1Bit(320, 240, 1), empty});
    FilterResult r = RunFilter(call);
    EXPECT_TRUE(StartsWithLine(r, "ERROR: Page 2 has no raster data")) << r.err;
    EXPECT_EQ(Count(r.out, "\r\nPRINT 1,1\r\n"), 1);
    call.inputFile = Raster({page});
    r = RunFilter(call);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.HasErrLine("WARNING: Page 1 ends after 100 of its 240 rows; the 140 missing rows are printed white."))
        << r.err;
    const std::string head = "BITMAP 0,0,40,240,1,";
    auto at = std::search(r.out.begin(), r.out.end(), head.begin(), head.end());
    ASSERT_NE(at, r.out.end());
    std::vector<uint8_t> bits(at + static_cast<long>(head.size()), at + static_cast<long>(head.size()) + 40 * 240);
    EXPECT_TRUE(std::all_of(bits.begin(), bits.begin() + 40 * 100, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(bits.begin() + 40 * 100, bits.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(JobLoop, BlackColourSpacePagesAreNotPrintedAsNegatives)
{
    // The same picture as luminance (1 = white) and as black ink (1 = dot)
    // must give the same printer bytes.
    RasterPage w = Page1Bit(320, 240, 5);
    RasterPage k = w;
    k.header.cupsColorSpace = CUPS_CSPACE_K;
    for (uint8_t &b : k.data)
        b = static_cast<uint8_t>(~b);
    RasterPage grey = MakeWhitePage(320, 2, 8, 203, 203);
    for (size_t i = 0; i < grey.data.size(); ++i)
        grey.data[i] = i % 3 ? 255 : 0;
    RasterPage greyK = grey;
    greyK.header.cupsColorSpace = CUPS_CSPACE_K;
    for (uint8_t &b : greyK.data)
        b = static_cast<uint8_t>(255 - b);

    FilterCall call;
    call.ppd = ppd;
    call.inputFile = Raster({w, grey});
    FilterResult luminance = RunFilter(call);
    call.inputFile = Raster({k, greyK});
    FilterResult black = RunFilter(call);
    ASSERT_EQ(luminance.exitStatus, 0) << luminance.err;
    ASSERT_EQ(black.exitStatus, 0) << black.err;
    EXPECT_EQ(Count(black.out, "\r\nPRINT 1,1\r\n"), 2);
    EXPECT_TRUE(luminance.out == black.out);
}

TEST_F(JobLoop, UnsupportedDepthSkipsThePageButNotTheJob)
{
    RasterPage sixteen = MakeWhitePage(100, 10, 16, 203, 203);
    sixteen.header.cupsBitsPerColor = 16;
    FilterCall call;
    call.ppd = ppd;
    call.inputFile = Raster({sixteen, Page1Bit(320, 240, 2)});
    FilterResult r = RunFilter(call);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.HasErrLine("ERROR: Page 1 has 16 bits per pixel, which can't be printed; pages of 1, 4, 8, 24 or "
                             "32 bits per pixel print. It was skipped."))
        << r.err;
    EXPECT_FALSE(r.HasErrLine("INFO: Finished page 1."));
    EXPECT_TRUE(r.HasErrLine("INFO: Finished page 2."));
    EXPECT_EQ(Count(r.out, "\r\nPRINT 1,1\r\n"), 1);
}

TEST_F(JobLoop, VanishedBackendFailsTheJobAfterOneError)
{
    std::vector<RasterPage> pages = {Page1Bit(320, 240, 1), Page1Bit(320, 240, 2), Page1Bit(320, 240, 3)};
    FilterCall call;
    call.ppd = ppd;
    call.inputFile = Raster(pages);
    call.closeStdout = true;
    FilterResult r = RunFilter(call);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    int errors = static_cast<int>(std::count_if(r.errLines.begin(), r.errLines.end(), [](const std::string &l) {
        return l.rfind("ERROR:Unable to send print data to the printer: Broken pipe", 0) == 0;
    }));
    EXPECT_EQ(errors, 1) << r.err;
    EXPECT_FALSE(r.HasErrLine("PAGE: 2 1")) << r.err;
}

TEST_F(JobLoop, HeaderIsTracedForEveryPage)
{
    RasterPage page = Page1Bit(320, 240, 1);
    page.header.HWResolution[1] = 300;
    FilterCall call;
    call.ppd = ppd;
    call.inputFile = Raster({page});
    FilterResult r = RunFilter(call);
    ASSERT_EQ(r.exitStatus, 0);
    for (const char *line :
         {"DEBUG: HWResolution = [ 203 300 ]", "DEBUG: cupsHeight = 240", "DEBUG: cupsBitsPerPixel = 1",
          "DEBUG: cupsBytesPerLine = 40", "DEBUG: cupsCompression = 0", "DEBUG: NumCopies = 1"})
        EXPECT_TRUE(r.HasSyslog(line)) << line;
}

// A PPD that declares its head width: every family refuses a page wider than
// the head, sends nothing of it, and prints the next page as it would alone.
TEST_F(JobLoop, PageWiderThanTheHeadIsRefusedAndTheJobGoesOn)
{
    const RasterPage narrow = Page1Bit(64, 8, 1);
    for (int model = 20; model <= 24; ++model) {
        for (const char *rotate : {"", "Rotate=2"}) {
            // Unrotated, 72 dots across; turned by 90 degrees, 72 rows become 72 dots.
            const RasterPage wide = *rotate ? Page1Bit(64, 72, 2) : Page1Bit(72, 8, 2);
            TestPpd printer;
            printer.modelNumber = model;
            printer.attributes = {{"qfHeadWidth", "64"}};
            if (*rotate)
                printer.options = {{"Rotate", {"0", "2"}}};
            FilterCall call;
            call.ppd = WritePpd(dir.path(), printer);
            call.options = rotate;
            call.inputFile = Raster({wide, narrow});
            const FilterResult both = RunFilter(call);
            call.inputFile = Raster({narrow});
            const FilterResult alone = RunFilter(call);
            SCOPED_TRACE(std::to_string(model) + " " + rotate);
            EXPECT_EQ(both.exitStatus, 0);
            EXPECT_TRUE(both.HasErrLine("ERROR: This page is 72 dots wide, wider than the 64 dots of the print head; "
                                        "it was not printed. Choose a narrower page size, or a landscape page size "
                                        "when rotating by 90 degrees."))
                << both.err;
            EXPECT_EQ(both.out, alone.out);
            EXPECT_FALSE(alone.out.empty());
        }
    }
}

} // namespace
