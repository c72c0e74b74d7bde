// What a Niimbot printer says of the roll in it (the tag's reply and the
// label information), and whether a job's labels fit it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Label sizes in hundredths of millimetres.
struct LabelSize {
    int width = 0, length = 0;
};

// Whether a page of `job` fits labels of `loaded`, either way round (the
// narrow heads take labels turned), with a millimetre to spare.
bool LabelFits(const LabelSize &job, const LabelSize &loaded);

// What the printer's answers (the tag reply 1B, the label information 69,
// each as it came, possibly empty) say of its roll. The label's size is
// given as the printer's page sizes are: for a model whose labels feed
// sideways (`sideways`), its long side is its width.
struct LoadedRoll {
    bool tag = false;  // a tag was read
    bool size = false; // the label size is known
    LabelSize label;
    int gapDots = 0;
    int labelType = 0;       // the printer's label type (1 gap, 2 black mark, ...)
    int total = 0, used = 0; // labels on the roll, from the tag
    std::string why;         // when nothing was read
};
LoadedRoll ReadRoll(const std::vector<uint8_t> &tagReply, const std::vector<uint8_t> &infoReply, int dpi,
                    bool sideways);
