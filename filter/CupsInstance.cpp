#include "CupsInstance.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BaseRender.h"
#include "CupsMessages.h"
#include "PageCheck.h"
#include "PageEnds.h"
#include "PagePath.h"
#include "SettingsReader.h"

volatile sig_atomic_t Canceled = 0;
int Page = 0;
int ModelNumber = 0;

namespace {

void CancelJob(int)
{
    Canceled = 1;
}

// Reads and drops the rest of a refused page's data, in small pieces, so that
// the next page header is read from the right place.
void DiscardPage(cups_raster_t *ras, const cups_page_header2_t &header)
{
    std::vector<unsigned char> chunk(65536);
    uint64_t left = static_cast<uint64_t>(header.cupsBytesPerLine) * header.cupsHeight;
    while (left > 0) {
        unsigned n = left < chunk.size() ? static_cast<unsigned>(left) : static_cast<unsigned>(chunk.size());
        if (cupsRasterReadPixels(ras, chunk.data(), n) == 0)
            break;
        left -= n;
    }
}

// Reads one page's rows into `page`, sized once for the whole page, and
// returns how many rows the stream held. Rows a short page lacks are filled
// with white in the page's own colour space, so a cut stream prints blank
// paper rather than a black block.
unsigned ReadPage(cups_raster_t *ras, const cups_page_header2_t &header, NS_QV_CLASS::CMyBuffer &page)
{
    const unsigned bpl = header.cupsBytesPerLine;
    const int total = static_cast<int>(static_cast<uint64_t>(bpl) * header.cupsHeight);
    // The header check bounded the page; the buffer's own content limit must
    // not cut a legitimate large page short.
    page.SetMaxBufferSize(0);
    page.SetBufferSize(total);
    std::vector<unsigned char> row(bpl);
    unsigned rows = 0;
    for (; rows < header.cupsHeight; ++rows) {
        if (cupsRasterReadPixels(ras, row.data(), bpl) == 0)
            break;
        page.AddBuffer(row.data(), static_cast<int>(bpl));
    }
    if (page.GetBufferLength() < total)
        memset(page.GetBuffer() + page.GetBufferLength(), WhiteByte(header), total - page.GetBufferLength());
    return rows;
}

// Pages in the black colour space (K) count ink: a 1 bit, or a high grey
// level, is a dot. Everything after this point reads pages as luminance (a 1
// bit white, 255 white), the form CUPS's grey rasteriser writes, so a K page
// is turned into that form here rather than printed as its negative.
void MakeLuminance(const cups_page_header2_t &header, NS_QV_CLASS::CMyBuffer &page)
{
    if (HeaderInt(header.cupsColorSpace) != CUPS_CSPACE_K || header.cupsBitsPerPixel > 8)
        return;
    unsigned char *p = reinterpret_cast<unsigned char *>(page.GetBuffer());
    const size_t n = static_cast<size_t>(header.cupsBytesPerLine) * header.cupsHeight;
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<unsigned char>(~p[i]);
    syslog(LOG_DEBUG, "page in black colour space: inverted to luminance");
}

// End of job: the raster stream, the input file, the PPD and the options.
// The early failure exits release them too; nothing is written on the way.
void ReleaseInputs(cups_raster_t *ras, int fd, ppd_file_t *ppd, int num_options, cups_option_t *options)
{
    cupsRasterClose(ras);
    if (fd != 0)
        close(fd);
    if (ppd)
        ppdClose(ppd);
    cupsFreeOptions(num_options, options);
}

// The page header as the system log has always shown it.
void TraceHeader(const cups_page_header2_t &h)
{
    syslog(LOG_DEBUG, "DEBUG: Duplex = %d\n", HeaderInt(h.Duplex));
    syslog(LOG_DEBUG, "DEBUG: HWResolution = [ %d %d ]\n", static_cast<int>(h.HWResolution[0]),
           static_cast<int>(h.HWResolution[1]));
    syslog(LOG_DEBUG, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n", static_cast<int>(h.ImagingBoundingBox[0]),
           static_cast<int>(h.ImagingBoundingBox[1]), static_cast<int>(h.ImagingBoundingBox[2]),
           static_cast<int>(h.ImagingBoundingBox[3]));
    syslog(LOG_DEBUG, "DEBUG: Margins = [ %d %d ]\n", static_cast<int>(h.Margins[0]), static_cast<int>(h.Margins[1]));
    syslog(LOG_DEBUG, "DEBUG: ManualFeed = %d\n", HeaderInt(h.ManualFeed));
    syslog(LOG_DEBUG, "DEBUG: MediaPosition = %d\n", static_cast<int>(h.MediaPosition));
    syslog(LOG_DEBUG, "DEBUG: NumCopies = %d\n", static_cast<int>(h.NumCopies));
    syslog(LOG_DEBUG, "DEBUG: Orientation = %d\n", HeaderInt(h.Orientation));
    syslog(LOG_DEBUG, "DEBUG: PageSize = [ %d %d ]\n", static_cast<int>(h.PageSize[0]),
           static_cast<int>(h.PageSize[1]));
    syslog(LOG_DEBUG, "DEBUG: cupsWidth = %d\n", static_cast<int>(h.cupsWidth));
    syslog(LOG_DEBUG, "DEBUG: cupsHeight = %d\n", static_cast<int>(h.cupsHeight));
    syslog(LOG_DEBUG, "DEBUG: cupsMediaType = %d\n", static_cast<int>(h.cupsMediaType));
    syslog(LOG_DEBUG, "DEBUG: cupsBitsPerColor = %d\n", static_cast<int>(h.cupsBitsPerColor));
    syslog(LOG_DEBUG, "DEBUG: cupsBitsPerPixel = %d\n", static_cast<int>(h.cupsBitsPerPixel));
    syslog(LOG_DEBUG, "DEBUG: cupsBytesPerLine = %d\n", static_cast<int>(h.cupsBytesPerLine));
    syslog(LOG_DEBUG, "DEBUG: cupsColorOrder = %d\n", HeaderInt(h.cupsColorOrder));
    syslog(LOG_DEBUG, "DEBUG: cupsColorSpace = %d\n", HeaderInt(h.cupsColorSpace));
    syslog(LOG_DEBUG, "DEBUG: cupsCompression = %d\n", static_cast<int>(h.cupsCompression));
}

// The page as the page path takes it: the rows read, the header's geometry.
RasterImage ImageOf(const cups_page_header2_t &h, const NS_QV_CLASS::CMyBuffer &page)
{
    RasterImage image;
    image.data = page.GetBuffer();
    image.width = h.cupsWidth;
    image.height = h.cupsHeight;
    image.bitsPerPixel = h.cupsBitsPerPixel;
    image.bytesPerLine = h.cupsBytesPerLine;
    image.xDpi = static_cast<int>(h.HWResolution[0]);
    image.yDpi = static_cast<int>(h.HWResolution[1]);
    return image;
}

// The PPD's ModelName, traced with its Personality.
std::string ModelName(ppd_file_t *ppd)
{
    std::string modelName;
    if (ppd_attr_t *attr = ppdFindAttr(ppd, "ModelName", nullptr)) {
        syslog(LOG_DEBUG, "ModelName=%s", attr->value ? attr->value : "");
        modelName = attr->value ? attr->value : "";
    }
    if (ppd_attr_t *attr = ppdFindAttr(ppd, "Personality", nullptr))
        syslog(LOG_DEBUG, "lang=%s", attr->value ? attr->value : "");
    return modelName;
}

// The job's settings from the marked PPD, traced to the system log.
void ReadPpdSettings(ppd_file_t *ppd, tagREGSTRUCT &reg)
{
    const TraceLine trace = [](const std::string &line) { syslog(LOG_DEBUG, "%s", line.c_str()); };
    trace("CCupsRender::GetPrinterParameters");
    PpdSettingsSource source(ppd, trace);
    ReadSettings(source, reg, trace);
}

// One page whose header has been read: checked, its rows read, printed
// through the page path, each refusal told on stderr.
void PrintOnePage(cups_raster_t *ras, const cups_page_header2_t &header, PagePath &path)
{
    const PageVerdict verdict = CheckPageHeader(header);
    if (verdict != PageVerdict::Ok) {
        _cupsLangPrintFilter(stderr, "ERROR", "%s", RefusalMessage(verdict, Page, header).c_str());
        DiscardPage(ras, header);
        return;
    }

    NS_QV_CLASS::CMyBuffer page;
    const unsigned rows = ReadPage(ras, header, page);
    if (rows == 0 && header.cupsHeight > 0) {
        // Nothing of the page arrived: there is nothing to print, and
        // a page of filler would waste a label.
        _cupsLangPrintFilter(stderr, "ERROR",
                             "Page %d has no raster data (the stream ends before its first row); it was "
                             "skipped.",
                             Page);
        return;
    }
    if (rows < header.cupsHeight)
        _cupsLangPrintFilter(stderr, "WARNING",
                             "Page %d ends after %u of its %u rows; the %u missing rows are printed white.", Page, rows,
                             header.cupsHeight, header.cupsHeight - rows);
    MakeLuminance(header, page);
    TraceHeader(header);
    const PageOutcome outcome = path.PrintPage(ImageOf(header, page), Page);
    if (!outcome.reason.empty())
        _cupsLangPrintFilter(stderr, "ERROR", "%s", outcome.reason.c_str());
    _cupsLangPrintFilter(stderr, "INFO", "Finished page %d.", Page);
}

// SIGTERM cancels the job after the page being printed.
void CatchSignals()
{
    Canceled = 0;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_handler = CancelJob;
    sigaction(SIGTERM, &action, nullptr);
    // A vanished backend must show up as a write error (EPIPE), not kill the
    // filter silently.
    signal(SIGPIPE, SIG_IGN);
}

// The job loop: every page of the stream until the end, a cancel, or a
// printer that has gone.
void PrintPages(cups_raster_t *ras, PagePath &path)
{
    cups_page_header2_t header;
    memset(&header, 0, sizeof header);
    Page = 0;
    while (cupsRasterReadHeader2(ras, &header)) {
        if (Canceled)
            break;
        ++Page;
        fprintf(stderr, "PAGE: %d 1\n", Page);
        _cupsLangPrintFilter(stderr, "INFO", "Starting page %d.", Page);

        PrintOnePage(ras, header, path);
        AnnouncePageEnd();
        // A failed write to the printer ends the job as a cancel does.
        if (Canceled || path.OutputFailed())
            break;
    }
}

} // namespace

int CCupsInstance::Run(int argc, char **argv)
{
    setbuf(stderr, nullptr);

    if (argc < 6 || argc > 7) {
        _cupsLangPrintFilter(stderr, "ERROR", "%s job-id user title copies options [file]", "quillfeed");
        return 1;
    }

    int fd = 0;
    if (argc == 7) {
        fd = open(argv[6], O_RDONLY);
        if (fd == -1) {
            _cupsLangPrintError("ERROR", "Unable to open raster file");
            sleep(1);
            return 1;
        }
    }
    cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);

    CatchSignals();

    cups_option_t *options = nullptr;
    int num_options = cupsParseOptions(argv[5], 0, &options);

    ppd_file_t *ppd = ppdOpenFile(getenv("PPD"));
    if (!ppd) {
        int linenum = 0;
        ppd_status_t status = ppdLastError(&linenum);
        _cupsLangPrintFilter(stderr, "ERROR", "The PPD file could not be opened.");
        fprintf(stderr, "DEBUG: %s on line %d.\n", ppdErrorString(status), linenum);
        ReleaseInputs(ras, fd, nullptr, num_options, options);
        return 1;
    }
    ppdMarkDefaults(ppd);
    cupsMarkOptions(ppd, num_options, options);

    const std::string modelName = ModelName(ppd);
    ModelNumber = ppd->model_number;
    syslog(LOG_DEBUG, "ModelNumber = %d\n", ModelNumber);

    // The settings are read once the printer family is set up.
    PagePath path(
        ModelNumber, [ppd](tagREGSTRUCT &reg) { ReadPpdSettings(ppd, reg); }, modelName, WriteToStandardOutput);
    if (!path.Known()) {
        syslog(LOG_ERR, "ERR: Unknow ModelNumber = %d\n", ModelNumber);
        _cupsLangPrintFilter(stderr, "ERROR", "Unknow ModelNumber.");
        ReleaseInputs(ras, fd, ppd, num_options, options);
        return 1;
    }
    path.StartJob();

    PrintPages(ras, path);

    path.EndJob();
    ReleaseInputs(ras, fd, ppd, num_options, options);

    if (Page == 0) {
        _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
        return 1;
    }
    return path.OutputFailed() ? 1 : 0;
}
