#include "DriverTable.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

const std::vector<PpdModel> kModels = {
#include "Drivers.inc"
};

// Vendor attribute names for PPD keywords whose kebab form reads badly.
struct VendorName {
    const char *keyword, *name;
};
const VendorName kVendorNames[] = {
    {"ImageFilter", "dithering"},
    {"ImageEnhance", "gamma"},
    {"zeMediaTracking", "paper-type"},
    {"MediaMethod", "print-method"},
    {"ImageOffsetX", "image-shift-right"},
    {"ImageOffsetY", "image-shift-down"},
    {"AdjustHoriaontal", "horizontal-reference"},
    {"AdjustVertical", "vertical-reference"},
    {"AutoDotted", "dotted-line"},
    {"ImageCompress", "compress-bitmaps"},
    {"FeedOffset", "feed-offset"},
    {"MediaAlign", "alignment"},
    {"qfBrightness", "picture-brightness"},
    {"SendSetc", "send-setc"},
};

// "CropEdgeTop" -> "crop-edge-top"; "zePrintRate" -> "ze-print-rate".
std::string Kebab(const char *keyword)
{
    std::string out;
    for (const char *p = keyword; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (std::isupper(c)) {
            if (!out.empty() && out.back() != '-')
                out += '-';
            out += static_cast<char>(std::tolower(c));
        } else if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else if (!out.empty() && out.back() != '-') {
            out += '-';
        }
    }
    return out;
}

bool OnlyChoices(const PpdOption &option, std::initializer_list<const char *> allowed)
{
    for (const PpdChoice &c : option.choices) {
        bool found = false;
        for (const char *a : allowed)
            found = found || strcmp(c.name, a) == 0;
        if (!found)
            return false;
    }
    return true;
}

} // namespace

const PpdOption *PpdModel::FindOption(const char *keyword) const
{
    for (const PpdOption &o : options)
        if (strcmp(o.keyword, keyword) == 0)
            return &o;
    return nullptr;
}

std::string PpdModel::FindAttribute(const char *name) const
{
    for (const PpdAttribute &a : attributes)
        if (strcmp(a.name, name) == 0)
            return a.value;
    return std::string();
}

const std::vector<PpdModel> &AllModels()
{
    return kModels;
}

const PpdModel *FindModel(const std::string &driverName)
{
    for (const PpdModel &m : kModels)
        if (driverName == m.driverName)
            return &m;
    return nullptr;
}

std::string KeywordOf(const char *choice)
{
    std::string out;
    for (const char *p = choice; *p; ++p)
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return out;
}

std::vector<IppOption> IppOptions(const PpdModel &model, int maxVendor, std::vector<std::string> *dropped)
{
    std::vector<IppOption> out;
    int vendors = 0;
    for (const PpdOption &o : model.options) {
        IppOption ipp{&o, IppKind::Vendor, std::string()};
        const std::string kw = o.keyword;
        if (kw == "Resolution")
            ipp.kind = IppKind::Fixed;
        else if (kw == "ColorModel")
            ipp.kind = IppKind::ColorMode;
        else if (kw == "Darkness")
            ipp.kind = IppKind::Darkness;
        else if (kw == "zePrintRate")
            ipp.kind = IppKind::Speed;
        else if (kw == "zeMediaTracking" && OnlyChoices(o, {"Gap", "BLine", "Continuous"}))
            ipp.kind = IppKind::Tracking;
        else if (kw == "AdjustHoriaontal")
            ipp.kind = IppKind::LeftOffset;
        else if (kw == "AdjustVertical")
            ipp.kind = IppKind::TopOffset;
        else if (kw == "PostAction" && OnlyChoices(o, {"0", "1", "2", "3", "4"}))
            ipp.kind = IppKind::LabelMode;

        if (ipp.kind == IppKind::Vendor) {
            if (vendors >= maxVendor) {
                if (dropped)
                    dropped->push_back(kw);
                continue;
            }
            ++vendors;
            ipp.name = Kebab(o.keyword);
            for (const VendorName &v : kVendorNames)
                if (kw == v.keyword)
                    ipp.name = v.name;
        }
        out.push_back(ipp);
    }
    return out;
}
