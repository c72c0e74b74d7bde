// quillfeed-preview: decodes and checks a printer byte stream of the filter
// and shows its pages.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Decode.h"
#include "PngWriter.h"

using namespace qf::preview;

namespace {

constexpr const char *kUsage = "Usage: quillfeed-preview [--lang LANG] [-o DIR] FILE|-\n"
                               "\n"
                               "Reads a TSPL, CPCL, ESC/POS, PeriPage, Paperang, cat printer, Niimbot or\n"
                               "Phomemo byte stream from FILE (or standard input for -), checks that it is well\n"
                               "formed and lists its commands. The language is detected from the first\n"
                               "bytes unless --lang names it.\n"
                               "\n"
                               "  --lang LANG   decode as LANG (tspl, cpcl, escpos, peripage, paperang, cat,\n"
                               "                niimbot, phomemo, auto)\n"
                               "  -o DIR        write DIR/page-1.png, DIR/page-2.png, ... and DIR/listing.txt\n"
                               "                (DIR is created when missing); the listing then does not go\n"
                               "                to standard output\n"
                               "  -h, --help    show this text\n"
                               "\n"
                               "Without -o the listing goes to standard output. Pages decoded before an\n"
                               "error are still written. One-colour pages are 1-bit grey PNGs, two-colour\n"
                               "pages RGB PNGs with red dots drawn under black ones.\n"
                               "\n"
                               "Exit status: 0 the stream is well formed, 1 it is not (\"error at byte N:\n"
                               "expected ...\" on standard error), 2 usage or I/O error.\n";

constexpr size_t kMaxInput = size_t(1) << 30;

int Usage(const std::string &why)
{
    std::fprintf(stderr, "quillfeed-preview: %s\n%s", why.c_str(), kUsage);
    return 2;
}

bool ReadAll(FILE *fp, std::vector<uint8_t> &bytes, std::string &error)
{
    uint8_t buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, fp)) > 0) {
        if (bytes.size() + got > kMaxInput) {
            error = "input larger than " + std::to_string(kMaxInput) + " bytes";
            return false;
        }
        bytes.insert(bytes.end(), buf, buf + got);
    }
    if (std::ferror(fp)) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

bool WriteText(const std::string &path, const std::string &text, std::string &error)
{
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), fp) == text.size();
    ok = (std::fclose(fp) == 0) && ok;
    if (!ok)
        error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    Lang lang = Lang::Auto;
    std::string outDir, input;
    bool haveInput = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--lang" || arg.rfind("--lang=", 0) == 0) {
            std::string name;
            if (arg == "--lang") {
                if (++i >= argc)
                    return Usage("--lang needs a language");
                name = argv[i];
            } else {
                name = arg.substr(7);
            }
            if (!ParseLang(name, lang))
                return Usage("unknown language \"" + name + "\"");
        } else if (arg == "-o" || arg == "--output") {
            if (++i >= argc)
                return Usage(arg + " needs a directory");
            outDir = argv[i];
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return Usage("unknown option " + arg);
        } else {
            if (haveInput)
                return Usage("more than one input");
            input = arg;
            haveInput = true;
        }
    }
    if (!haveInput)
        return Usage("no input named");

    std::vector<uint8_t> bytes;
    std::string error;
    FILE *fp = input == "-" ? stdin : std::fopen(input.c_str(), "rb");
    if (!fp) {
        std::fprintf(stderr, "quillfeed-preview: cannot open %s: %s\n", input.c_str(), std::strerror(errno));
        return 2;
    }
    bool read = ReadAll(fp, bytes, error);
    if (fp != stdin)
        std::fclose(fp);
    if (!read) {
        std::fprintf(stderr, "quillfeed-preview: cannot read %s: %s\n", input.c_str(), error.c_str());
        return 2;
    }

    DecodeResult result = Decode(bytes, lang);
    const std::string listing = FormatListing(result);
    if (outDir.empty()) {
        std::fwrite(listing.data(), 1, listing.size(), stdout);
        std::fflush(stdout);
    } else {
        if (mkdir(outDir.c_str(), 0777) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "quillfeed-preview: cannot create %s: %s\n", outDir.c_str(), std::strerror(errno));
            return 2;
        }
        if (!WriteText(outDir + "/listing.txt", listing, error)) {
            std::fprintf(stderr, "quillfeed-preview: %s\n", error.c_str());
            return 2;
        }
        for (const Page &page : result.pages) {
            if (!WritePagePng(page, outDir + "/page-" + std::to_string(page.number) + ".png", error)) {
                std::fprintf(stderr, "quillfeed-preview: %s\n", error.c_str());
                return 2;
            }
        }
    }
    if (!result.ok) {
        std::fprintf(stderr, "quillfeed-preview: %s\n", result.ErrorMessage().c_str());
        return 1;
    }
    return 0;
}
