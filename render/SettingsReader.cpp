// The settings table. The option keywords are the ones ppd/quillfeed.drv
// offers; keep both ends in step when one changes (AdjustHoriaontal is
// spelled so on purpose: existing PPDs use that keyword).
#include "SettingsReader.h"

#include <cstdlib>

#include "TextFormat.h"

std::string PpdSettingsSource::Choice(const char *keyword)
{
    ppd_choice_t *choice = m_ppd ? ppdFindMarkedChoice(m_ppd, keyword) : nullptr;
    if (!choice) {
        m_trace(FormatText("GetMarkedOption: %s is error", keyword));
        return std::string();
    }
    ppd_option_t *option = choice->option;
    // A choice without code (or an option without text) traces as empty text.
    auto text = [](const char *s) { return s ? s : ""; };
    m_trace(FormatText("%s: marked=%d, choice: %s, text: %s, code: %s, \t\t\tconflicted=%d, "
                       "keyword: %s, defchoice: %s, option->text: %s, option->num_choices: %d",
                       keyword, choice->marked, choice->choice, choice->text, text(choice->code),
                       option ? option->conflicted : 0, option ? option->keyword : "", option ? option->defchoice : "",
                       option ? option->text : "", option ? option->num_choices : 0));
    return choice->choice;
}

std::string PpdSettingsSource::Attribute(const char *name)
{
    ppd_attr_t *attr = m_ppd ? ppdFindAttr(m_ppd, name, nullptr) : nullptr;
    return attr && attr->value ? attr->value : "";
}

bool PpdSettingsSource::Offers(const char *keyword)
{
    return m_ppd && ppdFindOption(m_ppd, keyword);
}

namespace {

// Where a value goes: one member of the record (a float pair counts as two).
struct Member {
    int tagREGSTRUCT::*asInt = nullptr;
    bool tagREGSTRUCT::*asBool = nullptr;
    float tagREGSTRUCT::*asFloat = nullptr;
    float (tagREGSTRUCT::*asPair)[2] = nullptr;
    int element = 0;
};

Member Int(int tagREGSTRUCT::*m)
{
    Member r;
    r.asInt = m;
    return r;
}
Member Bool(bool tagREGSTRUCT::*m)
{
    Member r;
    r.asBool = m;
    return r;
}
Member Float(float tagREGSTRUCT::*m)
{
    Member r;
    r.asFloat = m;
    return r;
}
Member PairElement(float (tagREGSTRUCT::*m)[2], int element)
{
    Member r;
    r.asPair = m;
    r.element = element;
    return r;
}

void Store(tagREGSTRUCT &reg, const Member &m, int value)
{
    if (m.asInt)
        reg.*m.asInt = value;
    else if (m.asBool)
        reg.*m.asBool = value != 0;
    else if (m.asFloat)
        reg.*m.asFloat = static_cast<float>(value);
    else if (m.asPair)
        (reg.*m.asPair)[m.element] = static_cast<float>(value);
}

// The trace line of a member: integers and flags with %d, lengths with %.4f.
std::string Traced(const tagREGSTRUCT &reg, const Member &m, const char *format)
{
    if (m.asInt)
        return FormatText(format, reg.*m.asInt);
    if (m.asBool)
        return FormatText(format, reg.*m.asBool ? 1 : 0);
    if (m.asFloat)
        return FormatText(format, static_cast<double>(reg.*m.asFloat));
    return FormatText(format, static_cast<double>((reg.*m.asPair)[m.element]));
}

// Choice strings to values.
int Number(const std::string &v)
{
    return atoi(v.c_str());
}
int NonZero(const std::string &v)
{
    return atoi(v.c_str()) != 0;
}
int PrintType(const std::string &v)
{
    return (v == "Normal" || v == "Direct") ? 0 : 1;
}
int Align(const std::string &v)
{
    return v == "Left" ? 0 : v == "Right" ? 2 : 1;
}

enum class From {
    Choice,    // set only when a choice is marked
    AnyChoice, // no choice counts as "" (0), always set and traced
    Level,     // no choice or "Default": -1, the printer's own setting, untraced
    Attribute, // a PPD attribute, set when present
    // Newer keywords, asked for only when the source offers them:
    Offered,  // set when a choice is marked
    Override, // overrides an earlier keyword unless "" or "Default"
};

// Special cases, written out below.
enum class Special { None, Media, FeedOffset };

struct Setting {
    const char *keyword;
    From from;
    int (*parse)(const std::string &);
    Member member;
    const char *trace; // nullptr: not traced
    Special special = Special::None;
};

// The settings in the order they are read and traced. A new keyword is one
// more row here (and its member in RegStruct.h); a keyword that overrides
// another goes after it.
const Setting kSettings[] = {
    {"MediaMethod", From::Choice, PrintType, Int(&tagREGSTRUCT::iPrinttype), "iPrinttype = %d"},
    {"AdjustHoriaontal", From::Choice, Number, PairElement(&tagREGSTRUCT::fReference, 0), "fReference[0] = %.4f"},
    {"AdjustVertical", From::Choice, Number, PairElement(&tagREGSTRUCT::fReference, 1), "fReference[1] = %.4f"},
    {"zeMediaTracking", From::Choice, nullptr, {}, nullptr, Special::Media},
    {"MediaAlign", From::Choice, Align, Int(&tagREGSTRUCT::iAlign), "iAlign = %d"},
    {"FeedOffset", From::Choice, Number, Float(&tagREGSTRUCT::iOffset), "iOffset = %.4f", Special::FeedOffset},
    {"Rotate", From::Choice, Number, Int(&tagREGSTRUCT::iRotate), "iRotate = %d"},
    {"Darkness", From::Level, Number, Int(&tagREGSTRUCT::iDensity), "iDensity = %d"},
    {"zePrintRate", From::Level, Number, Int(&tagREGSTRUCT::iSpeed), "iSpeed = %d"},
    {"AutoDotted", From::Choice, NonZero, Bool(&tagREGSTRUCT::iDottedline), "iDottedline = %d"},
    {"ImageOffsetX", From::AnyChoice, Number, Int(&tagREGSTRUCT::iOffsetX), "iOffsetX = %d"},
    {"ImageOffsetY", From::AnyChoice, Number, Int(&tagREGSTRUCT::iOffsetY), "iOffsetY = %d"},
    {"Brightness", From::AnyChoice, Number, Int(&tagREGSTRUCT::iLiangdu), "iLiangdu = %d"},
    {"Contrast", From::Choice, Number, Int(&tagREGSTRUCT::iDuibidu), "iDuibidu = %d"},
    {"ImageEnhance", From::Choice, Number, Int(&tagREGSTRUCT::iGamma), "iGamma = %d"},
    {"ImageFilter", From::Choice, Number, Int(&tagREGSTRUCT::iGrayMethod), "iGrayMethod = %d"},
    {"Threshold", From::Choice, Number, Int(&tagREGSTRUCT::iThreValue), "iThreValue = %d"},
    {"ImageCompress", From::Choice, NonZero, Bool(&tagREGSTRUCT::bImageCompress), "ImageCompress = %d"},
    {"CropEdgeTop", From::Choice, Number, Float(&tagREGSTRUCT::iCropTopEdge), "iCropTopEdge = %.4f"},
    {"CropEdgeBottom", From::Choice, Number, Float(&tagREGSTRUCT::iCropBottomEdge), "iCropBottomEdge = %.4f"},
    {"CropEdgeLeft", From::Choice, Number, Float(&tagREGSTRUCT::iCropLeftEdge), "iCropLeftEdge = %.4f"},
    {"CropEdgeRight", From::Choice, Number, Float(&tagREGSTRUCT::fCropRightEdge), "fCropRightEdge = %.4f"},
    // Receipts (ESC/POS).
    {"ReceiptMode", From::Offered, NonZero, Bool(&tagREGSTRUCT::bReceipt), "bReceipt = %d"},
    {"CutMode", From::Offered, Number, Int(&tagREGSTRUCT::iCutMode), "iCutMode = %d"},
    {"CashDrawer", From::Offered, Number, Int(&tagREGSTRUCT::iMoneyBox), "iMoneyBox = %d"},
    {"BandRows", From::Offered, Number, Int(&tagREGSTRUCT::iBandRows), "iBandRows = %d"},
    {"CutterFeed", From::Offered, Number, Float(&tagREGSTRUCT::fCutterFeed), "fCutterFeed = %.4f"},
    // CUPS's image filters read a job's "brightness" themselves; this one
    // only the filter reads.
    {"qfBrightness", From::Override, Number, Int(&tagREGSTRUCT::iLiangdu), "iLiangdu = %d"},
    {"GapHeight", From::Offered, Number, Float(&tagREGSTRUCT::fGap), "fGap = %.4f"},
    {"GapOffset", From::Offered, Number, Float(&tagREGSTRUCT::fGapOffset), "fGapOffset = %.4f"},
    {"PostAction", From::Offered, Number, Int(&tagREGSTRUCT::iPostAction), "iPostAction = %d"},
    {"SendSetc", From::Offered, NonZero, Bool(&tagREGSTRUCT::bSendSetc), "bSendSetc = %d"},
    // New option keywords go above this line (From::Offered or Override, so
    // that PPDs without them trace as before), attributes below.
    {"DoubleColor", From::Attribute, NonZero, Bool(&tagREGSTRUCT::bDoubleColor), nullptr},
    {"qfHeadWidth", From::Attribute, Number, Int(&tagREGSTRUCT::iHeadWidth), "iHeadWidth = %d"},
};

struct MediaEntry {
    const char *choice;
    int type;
    float gap;
};

// zeMediaTracking choices and the media type each selects. Gap labels get a
// 3 mm gap; every other kind senses no gap.
const MediaEntry kMediaTable[] = {
    {"Continuous", kMediaContinuous, 0},
    {"A4Stock", kMediaContinuous, 0},
    {"Stock", kMediaContinuous, 0},
    {"Gap", kMediaGap, 3.0f},
    {"BLine", kMediaBLine, 0},
    {"BLine_Fold", kMediaBLine, 0},
    {"Perforated", kMediaPerforated, 0},
    {"Roll", kMediaRoll, 0},
    {"Recording", kMediaRecording, 0},
    {"Tattoo", kMediaTattoo, 0},
    {"TattooWrinkle", kMediaTattooWrinkle, 0},
    {"TattooGuidelines", kMediaTattooWrinkle, 0},
    {"ContinuousRoll", kMediaContinuousRoll, 0},
    {"UsLetterFold", kMediaUsLetterFold, 0},
    {"A4Fold", kMediaA4Fold, 0},
};

// An unknown choice leaves the media as it was, and is traced all the same.
void ReadMedia(const std::string &v, tagREGSTRUCT &reg, const TraceLine &trace)
{
    for (const MediaEntry &m : kMediaTable) {
        if (v == m.choice) {
            reg.iMediaType = m.type;
            reg.fGap = m.gap;
            reg.fGapOffset = 0;
            break;
        }
    }
    trace(FormatText("Gap = %d, %.4f, %.4f", reg.iMediaType, static_cast<double>(reg.fGap),
                     static_cast<double>(reg.fGapOffset)));
}

} // namespace

void ReadSettings(SettingsSource &source, tagREGSTRUCT &reg, const TraceLine &trace)
{
    for (const Setting &s : kSettings) {
        if ((s.from == From::Offered || s.from == From::Override) && !source.Offers(s.keyword))
            continue;
        const std::string v = s.from == From::Attribute ? source.Attribute(s.keyword) : source.Choice(s.keyword);
        if (s.from == From::Level && (v.empty() || v == "Default")) {
            Store(reg, s.member, -1);
            continue;
        }
        if (v.empty() && s.from != From::AnyChoice)
            continue;
        if (s.from == From::Override && v == "Default")
            continue;
        if (s.special == Special::Media) {
            ReadMedia(v, reg, trace);
            continue;
        }
        Store(reg, s.member, s.parse(v));
        if (s.special == Special::FeedOffset)
            reg.fFeedAfter = reg.iOffset; // the feed after each page
        if (s.trace)
            trace(Traced(reg, s.member, s.trace));
    }
}
