#include "LoadedRoll.h"

#include "NiimbotEncoder.h"

bool LabelFits(const LabelSize &job, const LabelSize &loaded)
{
    constexpr int kSpare = 100; // a millimetre
    const auto within = [](int a, int b) { return a <= b + kSpare; };
    return (within(job.width, loaded.width) && within(job.length, loaded.length)) ||
           (within(job.width, loaded.length) && within(job.length, loaded.width));
}

LoadedRoll ReadRoll(const std::vector<uint8_t> &tagReply, const std::vector<uint8_t> &infoReply, int dpi, bool sideways)
{
    LoadedRoll roll;
    const niimbot::Tag tag = niimbot::ParseTag(tagReply.data(), tagReply.size());
    if (!tag.ok) {
        roll.why = tagReply.empty()
                       ? "the printer did not answer the question for its roll's tag"
                       : "the printer's answer about its roll's tag was not understood (" + tag.error + ")";
        return roll;
    }
    if (!tag.present) {
        roll.why = "the roll has no tag the printer could read";
        return roll;
    }
    roll.tag = true;
    roll.total = tag.total;
    roll.used = tag.used;
    roll.labelType = tag.type;
    const niimbot::LabelInfo info = niimbot::ParseLabelInfo(infoReply.data(), infoReply.size());
    // Sizes a head of at most 384 dots could print, on labels no longer than
    // a metre: anything else is a misread.
    if (info.ok && dpi > 0 && info.widthDots > 0 && info.widthDots <= 384 && info.heightDots > 0 &&
        info.heightDots <= dpi * 40) {
        roll.size = true;
        // "203 dpi" printers have 8 dots a millimetre (203.2 dpi).
        const int perInch100 = dpi == 203 ? 20320 : dpi * 100;
        const int across = info.widthDots * 254000 / perInch100, along = info.heightDots * 254000 / perInch100;
        roll.label.width = sideways ? along : across;
        roll.label.length = sideways ? across : along;
        roll.gapDots = info.gapDots;
        if (info.type > 0)
            roll.labelType = info.type;
    }
    return roll;
}
