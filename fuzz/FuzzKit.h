// What the fuzzers share: running the filter in this process on a raster
// file and a PPD, with its printer output thrown away.
#pragma once

#include <cstdint>
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

// False when a page of the raster file would print but is larger than
// `maxPixels`: such pages take the fuzzer seconds each under the sanitizers
// and teach it nothing new (the hostile-input tests print pages at the
// limits). Pages the filter refuses by their header are kept.
bool PagesWithin(const std::string &raster, uint64_t maxPixels);

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
