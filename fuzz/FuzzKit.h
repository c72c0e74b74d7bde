// What the fuzzers share: running the filter in this process on a raster
// file and a PPD, with its printer output thrown away.
#pragma once

#include <string>
#include <vector>

namespace qf::fuzz {

// A scratch directory for the whole run; removed at exit.
const std::string &ScratchDir();

// Writes `size` bytes to `path`.
void WriteFile(const std::string &path, const unsigned char *data, size_t size);

// Runs the filter as CUPS would, in this process: job options `options`,
// the raster file `raster`, the PPD `ppd`. Standard output goes to
// /dev/null. Returns the exit status.
int RunFilter(const std::string &raster, const std::string &ppd, const std::string &options);

struct Option {
    const char *keyword;
    std::vector<const char *> choices; // the first is the default
};

// Every option the settings reader takes, with ordinary and absurd choices.
const std::vector<Option> &AllOptions();

// A PPD of model `model` offering AllOptions(), for a two-colour printer or
// not; written once each.
const std::string &PpdForModel(int model, bool twoColour);

} // namespace qf::fuzz
