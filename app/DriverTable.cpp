#include "DriverTable.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

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
    {"qfStatusQuery", "status-query"},
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

namespace {

std::string Upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t");
    const size_t b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// The ID's "KEY:value;" pairs, keys in capitals, the long key names folded
// onto the short ones.
std::map<std::string, std::string> DeviceIdPairs(const std::string &id)
{
    std::map<std::string, std::string> pairs;
    size_t start = 0;
    while (start < id.size()) {
        size_t end = id.find(';', start);
        if (end == std::string::npos)
            end = id.size();
        const std::string pair = id.substr(start, end - start);
        const size_t colon = pair.find(':');
        if (colon != std::string::npos) {
            std::string key = Upper(Trim(pair.substr(0, colon)));
            if (key == "MANUFACTURER")
                key = "MFG";
            else if (key == "MODEL")
                key = "MDL";
            else if (key == "COMMAND SET")
                key = "CMD";
            pairs.emplace(key, Trim(pair.substr(colon + 1)));
        }
        start = end + 1;
    }
    return pairs;
}

// The command set's languages, each in capitals ("ESC/POS", "TSPL2").
std::vector<std::string> Languages(const std::string &cmd)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= cmd.size()) {
        size_t end = cmd.find(',', start);
        if (end == std::string::npos)
            end = cmd.size();
        const std::string word = Upper(Trim(cmd.substr(start, end - start)));
        if (!word.empty())
            out.push_back(word);
        start = end + 1;
    }
    return out;
}

struct LanguageRule {
    const char *language; // a whole entry of CMD
    const char *driver;
};
// Whole entries only: "ESCPL2" (an inkjet language) is not ESC/POS.
const LanguageRule kLanguages[] = {
    {"TSPL", "tspl-203"},     {"TSPL2", "tspl-203"},   {"CPCL", "cpcl-203"},
    {"ESC/POS", "escpos-80"}, {"ESCPOS", "escpos-80"},
};

} // namespace

const char *DriverForDeviceId(const std::string &deviceId)
{
    const auto pairs = DeviceIdPairs(deviceId);
    const auto get = [&](const char *key) {
        const auto it = pairs.find(key);
        return it == pairs.end() ? std::string() : it->second;
    };
    const std::string mfg = Upper(get("MFG")), mdl = Upper(get("MDL"));
    if (!mfg.empty() && !mdl.empty()) {
        for (const PpdModel &m : AllModels()) {
            const auto own = DeviceIdPairs(m.deviceId);
            const auto ownMfg = own.find("MFG"), ownMdl = own.find("MDL");
            const bool byId = ownMfg != own.end() && ownMdl != own.end() && Upper(ownMfg->second) == mfg &&
                              Upper(ownMdl->second) == mdl;
            // Generic models name no maker a device reports.
            const bool byName = std::string(m.manufacturer) != "Generic" && Upper(m.manufacturer) == mfg &&
                                (Upper(m.modelName) == mdl || Upper(m.modelName) == mfg + " " + mdl);
            if (byId || byName)
                return m.driverName;
        }
    }
    for (const std::string &language : Languages(get("CMD"))) {
        for (const LanguageRule &rule : kLanguages) {
            if (language != rule.language)
                continue;
            if (std::string(rule.driver) == "escpos-80" && mdl.find("58") != std::string::npos)
                return "escpos-58";
            return rule.driver;
        }
    }
    return nullptr;
}
