#include "PictureJob.h"

#include <cups/pwg.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "DriverTable.h"
#include "PageFit.h"
#include "PapplDriver.h"
#include "PictureDecode.h"
#include "TestPage.h"

bool CanceledAsItStarted(pappl_job_t *job)
{
    // A document job keeps its file until it ends; only a cancel removes
    // it earlier.
    if (papplJobGetFilename(job))
        return false;
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Cancelled as it started: nothing printed.");
    papplJobCancel(job);
    return true;
}

namespace {

void FailJob(pappl_job_t *job, const std::string &reason, pappl_jreason_t why)
{
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", reason.c_str());
    papplJobSetMessage(job, "%s", reason.c_str());
    papplJobSetReasons(job, why, PAPPL_JREASON_NONE);
}

Scaling ScalingOf(pappl_scaling_t s)
{
    if (s & PAPPL_SCALING_FILL)
        return Scaling::Fill;
    if (s & PAPPL_SCALING_NONE)
        return Scaling::None;
    return Scaling::Fit;
}

// The picture is turned to the label's orientation unless the job asks for
// portrait by name.
bool TurnAllowed(pappl_job_t *job)
{
    ipp_attribute_t *attr = papplJobGetAttribute(job, "orientation-requested");
    return !attr || ippGetInteger(attr, 0) != IPP_ORIENT_PORTRAIT;
}

// A page through the driver's raster callbacks, row by row, the way PAPPL
// hands them a PWG raster page.
bool PrintPicturePage(pappl_job_t *job, pappl_pr_driver_data_t &data, pappl_pr_options_t *options,
                      pappl_device_t *device, const Picture &page)
{
    if (!data.rstartjob_cb(job, options, device))
        return false;
    bool ok = true;
    const size_t rowBytes = static_cast<size_t>(page.width) * page.channels;
    const int copies = options->copies > 0 ? options->copies : 1;
    for (int copy = 0; ok && copy < copies && !papplJobIsCanceled(job); ++copy) {
        ok = data.rstartpage_cb(job, options, device, static_cast<unsigned>(copy + 1));
        for (unsigned y = 0; ok && y < page.height && !papplJobIsCanceled(job); ++y)
            ok = data.rwriteline_cb(job, options, device, y, &page.pixels[y * rowBytes]);
        ok = data.rendpage_cb(job, options, device, static_cast<unsigned>(copy + 1)) && ok;
        papplJobSetImpressionsCompleted(job, 1);
    }
    return data.rendjob_cb(job, options, device) && ok;
}

// The PNG and JPEG filter: the picture decoded, turned, fitted to the
// media at the printer's resolution and printed as one page.
bool PrintPicture(pappl_job_t *job, pappl_device_t *device, void *)
{
    if (CanceledAsItStarted(job))
        return true;
    pappl_printer_t *printer = papplJobGetPrinter(job);
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    papplJobSetImpressions(job, 1);
    pappl_pr_options_t *options =
        papplJobCreatePrintOptions(job, 1, (data.color_supported & PAPPL_COLOR_MODE_COLOR) != 0);
    if (!options) {
        FailJob(job, "There is not enough memory for the job.", PAPPL_JREASON_ABORTED_BY_SYSTEM);
        return false;
    }
    const cups_page_header2_t &h = options->header;
    const bool colour = h.cupsBitsPerPixel == 24;
    Picture picture;
    const char *file = papplJobGetFilename(job);
    std::string problem = DecodePicture(file ? file : "", colour, picture);
    if (problem.empty() && (h.cupsWidth == 0 || h.cupsHeight == 0))
        problem = "The printer's media has no size; choose its media in the printer's settings.";
    if (!problem.empty()) {
        FailJob(job, problem, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
        papplJobDeletePrintOptions(options);
        return false;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Picture of %u x %u pixels on a page of %u x %u dots.", picture.width,
                picture.height, h.cupsWidth, h.cupsHeight);
    if (TurnAllowed(job) && OrientationDiffers(picture.width, picture.height, h.cupsWidth, h.cupsHeight))
        picture = TurnClockwise(picture);
    const Picture page = PlaceOnPage(picture, h.cupsWidth, h.cupsHeight, ScalingOf(options->print_scaling));
    picture = Picture();
    const bool ok = PrintPicturePage(job, data, options, device, page);
    papplJobDeletePrintOptions(options);
    return ok;
}

// The media of a size name in dots, as PAPPL's page header has it.
bool MediaDots(const char *sizeName, int xDpi, int yDpi, unsigned &width, unsigned &height)
{
    pwg_media_t *media = sizeName ? pwgMediaForPWG(sizeName) : nullptr;
    if (!media || media->width <= 0 || media->length <= 0)
        return false;
    width = static_cast<unsigned>(media->width * xDpi / 2540);
    height = static_cast<unsigned>(media->length * yDpi / 2540);
    return width > 0 && height > 0;
}

} // namespace

void AddPictureFilters(pappl_system_t *system)
{
    // PAPPL looks for a filter to the driver's own format first, so these
    // take the place of its own picture readers.
    static std::set<std::string> formats;
    int count = 0;
    pappl_pr_driver_t *drivers = AppDrivers(&count);
    for (int i = 0; i < count; ++i) {
        pappl_pr_driver_data_t data{};
        ipp_t *attrs = nullptr;
        if (AppDriverCallback(system, drivers[i].name, nullptr, nullptr, &data, &attrs, nullptr) && data.format)
            formats.insert(data.format);
        ippDelete(attrs);
    }
    for (const std::string &f : formats) {
        papplSystemAddMIMEFilter(system, "image/png", f.c_str(), PrintPicture, nullptr);
        papplSystemAddMIMEFilter(system, "image/jpeg", f.c_str(), PrintPicture, nullptr);
    }
}

const char *TestPageFile(pappl_printer_t *printer, char *buffer, size_t bufsize)
{
    const PpdModel *model = FindModel(papplPrinterGetDriverName(printer));
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    unsigned width = 0, height = 0;
    if (!model || !MediaDots(data.media_default.size_name, data.x_default, data.y_default, width, height))
        return nullptr;
    snprintf(buffer, bufsize, "%s/quillfeed-testpage-XXXXXX.png", papplGetTempDir());
    int fd = mkstemps(buffer, 4);
    if (fd < 0)
        return nullptr;
    FILE *file = fdopen(fd, "wb");
    const bool ok = file && WritePng(file, MakeTestPage(*model, width, height));
    if (file)
        fclose(file);
    else
        close(fd);
    if (!ok) {
        unlink(buffer);
        return nullptr;
    }
    return buffer;
}

int TestPageCommand(const char *baseName, int numOptions, cups_option_t *options, int numFiles, char **, void *)
{
    const char *driver = cupsGetOption("smi55357-driver", numOptions, options);
    const PpdModel *model = driver ? FindModel(driver) : nullptr;
    if (numFiles > 0 || !model) {
        fprintf(stderr, "%s: Usage: %s testpage -m DRIVER [-o media=SIZE-NAME] > page.png\n", baseName, baseName);
        return 1;
    }
    pappl_pr_driver_data_t data{};
    ipp_t *attrs = nullptr;
    AppDriverCallback(nullptr, driver, nullptr, nullptr, &data, &attrs, nullptr);
    ippDelete(attrs);
    const char *media = cupsGetOption("media", numOptions, options);
    unsigned width = 0, height = 0;
    if (!MediaDots(media ? media : data.media_default.size_name, data.x_default, data.y_default, width, height)) {
        fprintf(stderr, "%s: Unknown media size \"%s\".\n", baseName, media ? media : "");
        return 1;
    }
    if (isatty(STDOUT_FILENO)) {
        fprintf(stderr, "%s: The test page is a PNG picture; send it to a file or a pipe.\n", baseName);
        return 1;
    }
    return WritePng(stdout, MakeTestPage(*model, width, height)) ? 0 : 1;
}
