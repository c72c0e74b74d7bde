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
#include "PageIntake.h"
#include "PagePath.h"
#include "SettingsReader.h"
#include "StatusCheck.h"

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

// What the page intake tells: errors and warnings to CUPS, traces to the
// system log.
void FilterNote(NoteKind kind, const std::string &text)
{
    if (kind == NoteKind::Trace)
        syslog(LOG_DEBUG, "%s", text.c_str());
    else
        _cupsLangPrintFilter(stderr, kind == NoteKind::Error ? "ERROR" : "WARNING", "%s", text.c_str());
}

// Hands the page's rows to the intake until the stream ends or the page is
// complete.
void ReadRows(cups_raster_t *ras, const cups_page_header2_t &header, PageIntake &intake)
{
    std::vector<unsigned char> row(header.cupsBytesPerLine);
    for (unsigned rows = 0; rows < header.cupsHeight; ++rows) {
        if (cupsRasterReadPixels(ras, row.data(), header.cupsBytesPerLine) == 0)
            break;
        intake.AddRow(row.data());
    }
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

// The job's settings from the marked PPD, traced to the system log; a choice
// held at what the printers take is told to CUPS as a warning.
void ReadPpdSettings(ppd_file_t *ppd, tagREGSTRUCT &reg)
{
    const TraceLine trace = [](const std::string &line) { syslog(LOG_DEBUG, "%s", line.c_str()); };
    trace("CCupsRender::GetPrinterParameters");
    PpdSettingsSource source(ppd, trace);
    ReadSettings(source, reg, trace, [](const std::string &line) { FilterNote(NoteKind::Warning, line); });
}

// One page whose header has been read: taken in, printed through the page
// path, each refusal told on stderr.
void PrintOnePage(cups_raster_t *ras, const cups_page_header2_t &header, PagePath &path)
{
    PageIntake intake(FilterNote);
    if (!intake.Begin(header, Page)) {
        DiscardPage(ras, header);
        return;
    }
    ReadRows(ras, header, intake);
    RasterImage image;
    if (!intake.Finish(image))
        return;
    TraceHeader(header);
    const PageOutcome outcome = path.PrintPage(image, Page);
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
void PrintPages(cups_raster_t *ras, PagePath &path, FilterStatus &status)
{
    cups_page_header2_t header;
    memset(&header, 0, sizeof header);
    Page = 0;
    while (cupsRasterReadHeader2(ras, &header)) {
        if (Canceled || !status.BeforePage())
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

    FilterStatus status(ModelNumber, ppd);
    PrintPages(ras, path, status);
    status.EndJob();

    path.EndJob();
    ReleaseInputs(ras, fd, ppd, num_options, options);

    if (Page == 0) {
        _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
        return 1;
    }
    return path.OutputFailed() ? 1 : 0;
}
