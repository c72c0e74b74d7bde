// The settings table. The option keywords are the ones ppd/quillfeed.drv
// offers; keep both ends in step when one changes (AdjustHoriaontal is
// spelled so on purpose: existing PPDs use that keyword).
#include "SettingsReader.h"

#include <climits>
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

// Integer members get whole values only: the ranges of integer settings
// have whole bounds.
void Store(tagREGSTRUCT &reg, const Member &m, double value)
{
    if (m.asInt)
        reg.*m.asInt = static_cast<int>(value);
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

// Choice strings to values. The leading integer of the text (0 when there
// is none), held at the int range.
int Number(const std::string &v)
{
    const long n = strtol(v.c_str(), nullptr, 10);
    return n < INT_MIN ? INT_MIN : n > INT_MAX ? INT_MAX : static_cast<int>(n);
}
int NonZero(const std::string &v)
{
    return Number(v) != 0;
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

// The values a printer takes for a setting that becomes a number in one of
// its commands. A value below `low` becomes `below`, one above `high`
// becomes `above`; the reader says so in its trace.
struct Range {
    double low, high, below, above;
    const char *unit;
};

// Darkness: TSPL DENSITY and the PeriPage density byte take 0 to 15. A
// negative choice means the printer's own darkness, like "Default".
constexpr Range kDarkness = {0, 15, -1, 15, ""};
// Speed in inches a second: the SPEED values of these printers are 1 to 12;
// anything else has always been sent as 4, the speed every model has. A
// negative choice means the printer's own speed.
constexpr Range kSpeed = {1, 12, 4, 4, " in/s"};
// Gap or black mark height: TSPL GAP and BLINE take at most one inch.
constexpr Range kGapHeight = {0, 25.4, 0, 25.4, " mm"};
// Positions on the label (reference point, gap offset): no further than the
// longest label the printers take, 6 inches.
constexpr Range kPosition = {-152.4, 152.4, -152.4, 152.4, " mm"};
// Stop position (TSPL OFFSET backs the label up by at most one inch) or feed
// after each page (ESC J, up to 255 dots a command).
constexpr Range kFeedOffset = {-25.4, 100, -25.4, 100, " mm"};
// Feed before a cut: what clears the cutter of any receipt printer.
constexpr Range kCutterFeed = {0, 100, 0, 100, " mm"};
// Rows in one GS v 0 command: its row count is a 16-bit number.
constexpr Range kBandRows = {1, 65535, 1, 65535, ""};

struct Setting {
    const char *keyword;
    From from;
    int (*parse)(const std::string &);
    Member member;
    const char *trace; // nullptr: not traced
    Special special = Special::None;
    const Range *range = nullptr; // nullptr: any value
};

// The settings in the order they are read and traced. A new keyword is one
// more row here (and its member in RegStruct.h); a keyword that overrides
// another goes after it.
const Setting kSettings[] = {
    {"MediaMethod", From::Choice, PrintType, Int(&tagREGSTRUCT::iPrinttype), "iPrinttype = %d"},
    {"AdjustHoriaontal", From::Choice, Number, PairElement(&tagREGSTRUCT::fReference, 0), "fReference[0] = %.4f",
     Special::None, &kPosition},
    {"AdjustVertical", From::Choice, Number, PairElement(&tagREGSTRUCT::fReference, 1), "fReference[1] = %.4f",
     Special::None, &kPosition},
    {"zeMediaTracking", From::Choice, nullptr, {}, nullptr, Special::Media},
    {"MediaAlign", From::Choice, Align, Int(&tagREGSTRUCT::iAlign), "iAlign = %d"},
    {"FeedOffset", From::Choice, Number, Float(&tagREGSTRUCT::iOffset), "iOffset = %.4f", Special::FeedOffset,
     &kFeedOffset},
    {"Rotate", From::Choice, Number, Int(&tagREGSTRUCT::iRotate), "iRotate = %d"},
    {"Darkness", From::Level, Number, Int(&tagREGSTRUCT::iDensity), "iDensity = %d", Special::None, &kDarkness},
    {"zePrintRate", From::Level, Number, Int(&tagREGSTRUCT::iSpeed), "iSpeed = %d", Special::None, &kSpeed},
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
    {"BandRows", From::Offered, Number, Int(&tagREGSTRUCT::iBandRows), "iBandRows = %d", Special::None, &kBandRows},
    {"CutterFeed", From::Offered, Number, Float(&tagREGSTRUCT::fCutterFeed), "fCutterFeed = %.4f", Special::None,
     &kCutterFeed},
    // CUPS's image filters read a job's "brightness" themselves; this one
    // only the filter reads.
    {"qfBrightness", From::Override, Number, Int(&tagREGSTRUCT::iLiangdu), "iLiangdu = %d"},
    {"GapHeight", From::Offered, Number, Float(&tagREGSTRUCT::fGap), "fGap = %.4f", Special::None, &kGapHeight},
    {"GapOffset", From::Offered, Number, Float(&tagREGSTRUCT::fGapOffset), "fGapOffset = %.4f", Special::None,
     &kPosition},
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
    {"Transparent", kMediaTransparent, 3.0f},
    {"BLineGap", kMediaBLineGap, 3.0f},
    {"Tube", kMediaTube, 0},
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

// The value a printer takes for a setting's choice, with a trace line when
// it is not the choice's own.
double InRange(const Setting &s, int value, const TraceLine &trace, const TraceLine &warning)
{
    if (!s.range)
        return value;
    const Range &r = *s.range;
    double taken = value;
    if (s.from == From::Level && value < 0)
        taken = -1;
    else if (value < r.low)
        taken = r.below;
    else if (value > r.high)
        taken = r.above;
    if (taken != value) {
        const std::string range = FormatText("%g to %g%s", r.low, r.high, r.unit);
        const std::string line =
            taken < 0 && s.from == From::Level
                ? FormatText("%s %d: the printer's own setting is used", s.keyword, value)
                : FormatText("%s %d is outside %s: %g used", s.keyword, value, range.c_str(), taken);
        trace(line);
        if (warning)
            warning(line);
    }
    return taken;
}

} // namespace

void ReadSettings(SettingsSource &source, tagREGSTRUCT &reg, const TraceLine &trace, const TraceLine &warning)
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
        Store(reg, s.member, InRange(s, s.parse(v), trace, warning));
        if (s.special == Special::FeedOffset)
            reg.fFeedAfter = reg.iOffset; // the feed after each page
        if (s.trace)
            trace(Traced(reg, s.member, s.trace));
    }
}
