#include "FuzzKit.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>

#include "CupsInstance.h"
#include "PageCheck.h"

// The filter logs a great deal; a log socket round trip per line would slow
// every run down. The messages are still formatted, so a bad format or
// argument shows up here as it would in syslog.
extern "C" void vsyslog(int, const char *format, va_list args)
{
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
}

extern "C" void syslog(int priority, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

namespace qf::fuzz {

namespace {

struct Scratch {
    std::string dir;
    Scratch()
    {
        char name[] = "/tmp/qf-fuzz-XXXXXX";
        dir = mkdtemp(name) ? name : "/tmp";
        // Printer output is not looked at; the job still writes all of it.
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~Scratch()
    {
        std::string cmd = "rm -rf '" + dir + "'";
        if (system(cmd.c_str()) != 0)
            fprintf(stderr, "could not remove %s\n", dir.c_str());
    }
};

} // namespace

const std::string &ScratchDir()
{
    static Scratch scratch;
    return scratch.dir;
}

void WriteFile(const std::string &path, const unsigned char *data, size_t size)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        abort();
    if (size && fwrite(data, 1, size, f) != size)
        abort();
    fclose(f);
}

int RunFilter(const std::string &raster, const std::string &ppd, const std::string &options)
{
    ScratchDir();
    setenv("PPD", ppd.c_str(), 1);
    std::vector<std::string> args = {"quillfeed", "1", "fuzz", "title", "1", options, raster};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    CCupsInstance instance;
    return instance.Run(static_cast<int>(args.size()), argv.data());
}

bool PagesWithin(const std::string &raster, uint64_t maxPixels)
{
    const int fd = open(raster.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    bool within = true;
    cups_page_header2_t header;
    std::vector<unsigned char> row;
    while (within && ras && cupsRasterReadHeader2(ras, &header)) {
        if (CheckPageHeader(header) != PageVerdict::Ok)
            break; // refused by its header; what follows is not screened
        within = uint64_t{header.cupsWidth} * header.cupsHeight <= maxPixels;
        row.resize(header.cupsBytesPerLine);
        for (unsigned y = 0; within && y < header.cupsHeight; ++y)
            if (cupsRasterReadPixels(ras, row.data(), header.cupsBytesPerLine) == 0)
                break;
    }
    cupsRasterClose(ras);
    close(fd);
    return within;
}

const std::vector<Option> &AllOptions()
{
    static const std::vector<Option> options = {
        {"zeMediaTracking",
         {"Gap", "Continuous", "BLine", "Perforated", "Roll", "Recording", "Tattoo", "TattooWrinkle",
          "TattooGuidelines", "ContinuousRoll", "UsLetterFold", "Stock", "Transparent", "Tube", "Nonsense"}},
        {"MediaMethod", {"Direct", "Transfer", "Normal"}},
        {"Darkness", {"Default", "0", "8", "15", "30", "-1", "99999"}},
        {"zePrintRate", {"Default", "1", "4", "-5", "99999"}},
        {"Rotate", {"0", "1", "2", "3", "7", "-1"}},
        {"ImageOffsetX", {"0", "8", "-8", "99999", "-99999"}},
        {"ImageOffsetY", {"0", "8", "-8", "99999", "-99999"}},
        {"Brightness", {"0", "50", "-50", "99999", "-99999"}},
        {"Contrast", {"0", "50", "-50", "99999", "-99999"}},
        {"ImageEnhance", {"0", "1", "5", "99999", "-1"}},
        {"ImageFilter", {"0", "1", "2", "3", "9", "-1"}},
        {"Threshold", {"128", "0", "255", "99999", "-1"}},
        {"ImageCompress", {"0", "1"}},
        {"CropEdgeTop", {"0", "5", "-1", "99999"}},
        {"CropEdgeBottom", {"0", "5", "-1", "99999"}},
        {"CropEdgeLeft", {"0", "5", "-1", "99999"}},
        {"CropEdgeRight", {"0", "5", "-1", "99999"}},
        {"AdjustHoriaontal", {"0", "10", "-99999", "99999"}},
        {"AdjustVertical", {"0", "10", "-99999", "99999"}},
        {"FeedOffset", {"0", "10", "-10", "99999", "-99999"}},
        {"MediaAlign", {"Center", "Left", "Right"}},
        {"AutoDotted", {"0", "1"}},
        {"GapHeight", {"3", "0", "-5", "99999"}},
        {"GapOffset", {"0", "2", "-5", "99999"}},
        {"PostAction", {"0", "1", "2", "9", "-1"}},
        {"SendSetc", {"0", "1"}},
    };
    return options;
}

const std::string &PpdForModel(int model, bool twoColour)
{
    static std::map<std::pair<int, bool>, std::string> paths;
    std::string &path = paths[{model, twoColour}];
    if (!path.empty())
        return path;
    path = ScratchDir() + "/model" + std::to_string(model) + (twoColour ? "-2c" : "") + ".ppd";
    std::ofstream f(path);
    f << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
      << "*LanguageEncoding: ISOLatin1\n*PCFileName: \"FUZZ.PPD\"\n*Manufacturer: \"Fuzz\"\n"
      << "*Product: \"(Fuzz)\"\n*ModelName: \"Fuzz " << model << "\"\n*ShortNickName: \"Fuzz\"\n"
      << "*NickName: \"Fuzz\"\n*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
      << "*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"1\"\n*TTRasterizer: Type42\n"
      << "*cupsVersion: 2.4\n*cupsModelNumber: " << model << "\n"
      << "*cupsFilter2: \"application/vnd.cups-raster application/octet-stream 0 quillfeed\"\n";
    if (twoColour)
        f << "*DoubleColor: \"1\"\n";
    for (const Option &o : AllOptions()) {
        f << "*OpenUI *" << o.keyword << "/" << o.keyword << ": PickOne\n*OrderDependency: 10 AnySetup *" << o.keyword
          << "\n*Default" << o.keyword << ": " << o.choices[0] << "\n";
        for (const char *c : o.choices)
            f << "*" << o.keyword << " " << c << "/" << c << ": \"\"\n";
        f << "*CloseUI: *" << o.keyword << "\n";
    }
    return path;
}

} // namespace qf::fuzz
