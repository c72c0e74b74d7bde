// Reading the job's settings from the PPD's marked choices, and unit conversion.
//
// The option keywords below are the ones ppd/quillfeed.drv offers; keep both
// ends in step when one changes (AdjustHoriaontal is spelled so on purpose:
// existing PPDs use that keyword).
#include <climits>
#include <cstdlib>
#include <cstring>

#include "BaseRender.h"

std::string CBaseRender::GetMarkedOption(const char *keyword)
{
    ppd_choice_t *choice = ppdFindMarkedChoice(m_pPPD, keyword);
    if (!choice) {
        AddLog("GetMarkedOption: %s is error", keyword);
        return std::string();
    }
    ppd_option_t *option = choice->option;
    // A choice without code (or an option without text) traces as empty text.
    auto text = [](const char *s) { return s ? s : ""; };
    AddLog("%s: marked=%d, choice: %s, text: %s, code: %s, \t\t\tconflicted=%d, "
           "keyword: %s, defchoice: %s, option->text: %s, option->num_choices: %d",
           keyword, choice->marked, choice->choice, choice->text, text(choice->code), option ? option->conflicted : 0,
           option ? option->keyword : "", option ? option->defchoice : "", option ? option->text : "",
           option ? option->num_choices : 0);
    return choice->choice;
}

namespace {

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

} // namespace

void CBaseRender::GetPrinterParameters()
{
    tagREGSTRUCT &reg = m_Reg;
    std::string v;

    AddLog("CCupsRender::GetPrinterParameters");

    if (!(v = GetMarkedOption("MediaMethod")).empty()) {
        reg.iPrinttype = (v == "Normal" || v == "Direct") ? 0 : 1;
        AddLog("iPrinttype = %d", reg.iPrinttype);
    }
    if (!(v = GetMarkedOption("AdjustHoriaontal")).empty()) {
        reg.fReference[0] = static_cast<float>(atoi(v.c_str()));
        AddLog("fReference[0] = %.4f", reg.fReference[0]);
    }
    if (!(v = GetMarkedOption("AdjustVertical")).empty()) {
        reg.fReference[1] = static_cast<float>(atoi(v.c_str()));
        AddLog("fReference[1] = %.4f", reg.fReference[1]);
    }
    if (!(v = GetMarkedOption("zeMediaTracking")).empty()) {
        for (const MediaEntry &m : kMediaTable) {
            if (v == m.choice) {
                reg.iMediaType = m.type;
                reg.fGap = m.gap;
                reg.fGapOffset = 0;
                break;
            }
        }
        AddLog("Gap = %d, %.4f, %.4f", reg.iMediaType, reg.fGap, reg.fGapOffset);
    }
    if (!(v = GetMarkedOption("MediaAlign")).empty()) {
        reg.iAlign = v == "Left" ? 0 : v == "Right" ? 2 : 1;
        AddLog("iAlign = %d", reg.iAlign);
    }
    if (!(v = GetMarkedOption("FeedOffset")).empty()) {
        reg.iOffset = static_cast<float>(atoi(v.c_str()));
        reg.fFeedAfter = reg.iOffset;
        AddLog("iOffset = %.4f", reg.iOffset);
    }
    if (!(v = GetMarkedOption("Rotate")).empty()) {
        reg.iRotate = atoi(v.c_str());
        AddLog("iRotate = %d", reg.iRotate);
    }
    v = GetMarkedOption("Darkness");
    if (!v.empty() && v != "Default") {
        reg.iDensity = atoi(v.c_str());
        AddLog("iDensity = %d", reg.iDensity);
    } else {
        reg.iDensity = -1;
    }
    v = GetMarkedOption("zePrintRate");
    if (!v.empty() && v != "Default") {
        reg.iSpeed = atoi(v.c_str());
        AddLog("iSpeed = %d", reg.iSpeed);
    } else {
        reg.iSpeed = -1;
    }
    if (!(v = GetMarkedOption("AutoDotted")).empty()) {
        reg.iDottedline = atoi(v.c_str()) != 0;
        AddLog("iDottedline = %d", reg.iDottedline ? 1 : 0);
    }
    reg.iOffsetX = atoi(GetMarkedOption("ImageOffsetX").c_str());
    AddLog("iOffsetX = %d", reg.iOffsetX);
    reg.iOffsetY = atoi(GetMarkedOption("ImageOffsetY").c_str());
    AddLog("iOffsetY = %d", reg.iOffsetY);
    reg.iLiangdu = atoi(GetMarkedOption("Brightness").c_str());
    AddLog("iLiangdu = %d", reg.iLiangdu);
    if (!(v = GetMarkedOption("Contrast")).empty()) {
        reg.iDuibidu = atoi(v.c_str());
        AddLog("iDuibidu = %d", reg.iDuibidu);
    }
    if (!(v = GetMarkedOption("ImageEnhance")).empty()) {
        reg.iGamma = atoi(v.c_str());
        AddLog("iGamma = %d", reg.iGamma);
    }
    if (!(v = GetMarkedOption("ImageFilter")).empty()) {
        reg.iGrayMethod = atoi(v.c_str());
        AddLog("iGrayMethod = %d", reg.iGrayMethod);
    }
    if (!(v = GetMarkedOption("Threshold")).empty()) {
        reg.iThreValue = atoi(v.c_str());
        AddLog("iThreValue = %d", reg.iThreValue);
    }
    if (!(v = GetMarkedOption("ImageCompress")).empty()) {
        reg.bImageCompress = atoi(v.c_str()) != 0;
        AddLog("ImageCompress = %d", reg.bImageCompress ? 1 : 0);
    }
    if (!(v = GetMarkedOption("CropEdgeTop")).empty()) {
        reg.iCropTopEdge = static_cast<float>(atoi(v.c_str()));
        AddLog("iCropTopEdge = %.4f", reg.iCropTopEdge);
    }
    if (!(v = GetMarkedOption("CropEdgeBottom")).empty()) {
        reg.iCropBottomEdge = static_cast<float>(atoi(v.c_str()));
        AddLog("iCropBottomEdge = %.4f", reg.iCropBottomEdge);
    }
    if (!(v = GetMarkedOption("CropEdgeLeft")).empty()) {
        reg.iCropLeftEdge = static_cast<float>(atoi(v.c_str()));
        AddLog("iCropLeftEdge = %.4f", reg.iCropLeftEdge);
    }
    if (!(v = GetMarkedOption("CropEdgeRight")).empty()) {
        reg.fCropRightEdge = static_cast<float>(atoi(v.c_str()));
        AddLog("fCropRightEdge = %.4f", reg.fCropRightEdge);
    }
    ppd_attr_t *attr = ppdFindAttr(m_pPPD, "DoubleColor", nullptr);
    if (attr)
        reg.bDoubleColor = atoi(attr->value ? attr->value : "") != 0;
    ReadLabelOptions();
}

// Keywords newer than the rest, read after them and only from PPDs that
// offer them, so that a PPD without them traces and prints as before.
void CBaseRender::ReadLabelOptions()
{
    tagREGSTRUCT &reg = m_Reg;
    auto marked = [this](const char *keyword) {
        return ppdFindOption(m_pPPD, keyword) ? GetMarkedOption(keyword) : std::string();
    };
    std::string v;
    // CUPS's image filters read a job's "brightness" themselves; this one
    // only the filter reads. "Default" leaves Brightness in force.
    v = marked("qfBrightness");
    if (!v.empty() && v != "Default") {
        reg.iLiangdu = atoi(v.c_str());
        AddLog("iLiangdu = %d", reg.iLiangdu);
    }
    if (!(v = marked("GapHeight")).empty()) {
        reg.fGap = static_cast<float>(atoi(v.c_str()));
        AddLog("fGap = %.4f", reg.fGap);
    }
    if (!(v = marked("GapOffset")).empty()) {
        reg.fGapOffset = static_cast<float>(atoi(v.c_str()));
        AddLog("fGapOffset = %.4f", reg.fGapOffset);
    }
    if (!(v = marked("PostAction")).empty()) {
        reg.iPostAction = atoi(v.c_str());
        AddLog("iPostAction = %d", reg.iPostAction);
    }
    if (!(v = marked("SendSetc")).empty()) {
        reg.bSendSetc = atoi(v.c_str()) != 0;
        AddLog("bSendSetc = %d", reg.bSendSetc ? 1 : 0);
    }
}

// Length conversion between millimetres (0), centimetres (1), inches (2) and
// dots (3) at the page's horizontal resolution. Steps with 25.4 run in double
// precision on the widened float; the others stay in single precision, which
// is what the printers' dot counts have always been computed with.
float CBaseRender::ConvertUnits(int type, float value)
{
    const int from = m_Reg.iUnit;
    if (from < 0 || from > 3 || type < 0 || type > 3 || from == type)
        return value;
    const float dpi = static_cast<float>(m_iResolution);
    switch (from) {
    case 0:
        if (type == 1)
            return value / 10.0f;
        if (type == 2)
            return static_cast<float>(static_cast<double>(value) / 25.4);
        return static_cast<float>(static_cast<double>(dpi * value) / 25.4);
    case 1:
        if (type == 0)
            return value * 10.0f;
        if (type == 2)
            return static_cast<float>(static_cast<double>(value * 10.0f) / 25.4);
        return static_cast<float>(static_cast<double>(value * 10.0f * dpi) / 25.4);
    case 2:
        if (type == 0)
            return static_cast<float>(static_cast<double>(value) * 25.4);
        if (type == 1)
            return static_cast<float>(static_cast<double>(value) * 25.4 / 10.0);
        return dpi * value;
    default: // dots
        if (type == 0)
            return static_cast<float>(static_cast<double>(value) * 25.4 / dpi);
        if (type == 1)
            return static_cast<float>(static_cast<double>(value) * 25.4 / dpi / 10.0);
        return value / dpi;
    }
}

// Millimetres to whole dots as every caller rounds them: + 0.5 in double
// precision, then truncation toward zero (so -3 mm at 203 dpi is -23 dots).
// Absurd settings (a FeedOffset of a billion millimetres) are held at the
// int range instead of overflowing the conversion.
int CBaseRender::MillimetresToDots(float mm)
{
    double dots = static_cast<double>(ConvertUnits(3, mm)) + 0.5;
    if (!(dots > INT_MIN))
        return INT_MIN;
    if (dots >= 2147483647.0)
        return INT_MAX;
    return static_cast<int>(dots);
}
