// Faults from outside the data: a cancel at any moment of a job, a backend
// that takes the output slowly, a very long job.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <random>
#include <string>

#include "FilterRun.h"

namespace {

RasterPage Numbered(int n, unsigned rows)
{
    RasterPage p = MakeWhitePage(384, rows, 1, 203, 203);
    for (size_t i = 0; i < p.data.size(); ++i)
        p.data[i] = static_cast<uint8_t>((i * 13 + static_cast<size_t>(n) * 71) & 0xFF);
    return p;
}

std::vector<RasterPage> Job(int pages, unsigned rows)
{
    std::vector<RasterPage> job;
    for (int n = 1; n <= pages; ++n)
        job.push_back(Numbered(n, rows));
    return job;
}

int CountLines(const FilterResult &r, const std::string &prefix)
{
    int n = 0;
    for (const std::string &l : r.errLines)
        n += l.rfind(prefix, 0) == 0;
    return n;
}

class Fault : public ::testing::Test {
protected:
    TempDir dir;

    // Pages tall enough that a signal can land inside one.
    FilterCall Call(int model, int pages, unsigned rows = 1200)
    {
        TestPpd printer;
        printer.modelNumber = model;
        FilterCall call;
        call.ppd = WritePpd(dir.path(), printer);
        call.inputFile = dir.File("job" + std::to_string(pages) + ".ras");
        EXPECT_TRUE(WriteRasterFile(call.inputFile, Job(pages, rows), RasterFormat::Uncompressed));
        return call;
    }
};

// A cancel ends the job after the page in hand: the printer gets exactly the
// bytes of the same job cut to the pages that were finished, end-of-document
// bytes included, and the exit status says whether any page was started.
TEST_F(Fault, SigtermAtRandomMomentsEndsTheJobCleanly)
{
    const int kPages = 6;
    for (int model : {22, 23}) {
        std::vector<std::vector<uint8_t>> reference;
        for (int pages = 0; pages <= kPages; ++pages)
            reference.push_back(RunFilter(Call(model, pages)).out);
        std::mt19937 random(static_cast<unsigned>(model));
        for (int trial = 0; trial < 12; ++trial) {
            FilterCall call = Call(model, kPages);
            // The moment: after a random amount of stderr, from before the
            // first page to the last.
            const size_t at = std::uniform_int_distribution<size_t>(0, 320)(random);
            bool sent = false;
            call.onStderr = [&](const std::string &err, int pid) {
                if (!sent && err.size() >= at) {
                    kill(pid, SIGTERM);
                    sent = true;
                }
                return false;
            };
            const FilterResult r = RunFilter(call);
            SCOPED_TRACE("model " + std::to_string(model) + ", SIGTERM after " + std::to_string(at) + " bytes");
            const int started = CountLines(r, "PAGE: "), finished = CountLines(r, "INFO: Finished page");
            EXPECT_EQ(started, finished) << r.err;
            ASSERT_LE(finished, kPages);
            EXPECT_EQ(r.exitStatus, started > 0 ? 0 : 1) << r.err;
            EXPECT_TRUE(r.out == reference[static_cast<size_t>(finished)]) << finished << " pages\n" << r.err;
        }
    }
}

// Every byte reaches a backend that reads a few bytes at a time.
TEST_F(Fault, SlowBackendGetsEveryByte)
{
    for (int model : {20, 22, 23}) {
        FilterCall call = Call(model, 3, 200);
        const FilterResult fast = RunFilter(call);
        call.slowReadBytes = 7;
        const FilterResult slow = RunFilter(call);
        EXPECT_EQ(slow.exitStatus, 0) << slow.err;
        EXPECT_GT(slow.out.size(), 3u * 384 / 8 * 200) << model;
        EXPECT_TRUE(slow.out == fast.out) << model;
    }
}

// Memory is given back page by page: a thousand pages peak where ten do.
TEST_F(Fault, LongJobPeakMemoryStaysFlat)
{
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in quarantine, which would grow
    // with the job; without it, the filter's own use shows.
    const char *asan = getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", ((asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=0").c_str(), 1);
#endif
    const FilterResult ten = RunFilter(Call(22, 10, 120));
    const FilterResult thousand = RunFilter(Call(22, 1000, 120));
    ASSERT_EQ(thousand.exitStatus, 0) << thousand.err;
    EXPECT_EQ(CountLines(thousand, "INFO: Finished page"), 1000);
    std::cout << "peak RSS: 10 pages " << ten.maxRssKb << " KiB, 1000 pages " << thousand.maxRssKb << " KiB\n";
    EXPECT_LT(thousand.maxRssKb, ten.maxRssKb + 4096);
}

} // namespace
