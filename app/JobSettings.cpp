#include "JobSettings.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseInt(const char *s, long &value)
{
    if (!s || !*s)
        return false;
    char *end = nullptr;
    value = strtol(s, &end, 10);
    return *end == '\0';
}

const char *const kTrackingChoices[][2] = {
    {"continuous", "Continuous"},
    {"gap", "Gap"},
    {"mark", "BLine"},
};

// PostAction choices: 0 the printer's own setting, 1 tear, 2 cut, 3 peel,
// 4 partial cut (which no label mode names).
const char *const kLabelModeChoices[][2] = {
    {"tear-off", "1"},
    {"cutter", "2"},
    {"peel-off", "3"},
};

bool HasChoice(const PpdOption &option, const char *name)
{
    for (const PpdChoice &c : option.choices)
        if (strcmp(c.name, name) == 0)
            return true;
    return false;
}

} // namespace

int InitialDarknessConfigured(int levels)
{
    if (levels < 2)
        return 50;
    return 100 * (levels / 2) / (levels - 1);
}

std::string NearestNumericChoice(const PpdOption &option, double value, const char *none)
{
    std::string best = none;
    double bestDistance = INFINITY;
    for (const PpdChoice &c : option.choices) {
        long n = 0;
        if (!ParseInt(c.name, n))
            continue;
        double d = std::fabs(static_cast<double>(n) - value);
        if (d < bestDistance) {
            bestDistance = d;
            best = c.name;
        }
    }
    return best;
}

std::string ChoiceForVendorValue(const PpdOption &option, const std::string &value)
{
    for (const PpdChoice &c : option.choices) {
        long n = 0, v = 0;
        if (ParseInt(c.name, n) && ParseInt(value.c_str(), v) && n == v)
            return c.name;
        if (KeywordOf(c.name) == value)
            return c.name;
    }
    return std::string();
}

JobSettings::JobSettings(const PpdModel &model) : m_model(model)
{
    for (const PpdOption &o : model.options)
        m_choices[o.keyword] = o.defaultChoice;
    m_choices["PageSize"] = model.defaultMedia;
}

namespace {

// print-darkness 0 on a printer whose darkness was never chosen leaves the
// printer's own darkness; otherwise the configured darkness, moved by
// print-darkness, on the PPD's levels.
std::string DarknessChoice(const PpdOption &o, const JobValues &values)
{
    if (values.printDarkness == 0 && !values.darknessChosen)
        return HasChoice(o, "Default") ? "Default" : o.defaultChoice;
    int level = values.darknessConfigured + values.printDarkness;
    level = level < 0 ? 0 : level > 100 ? 100 : level;
    long top = 0;
    for (const PpdChoice &c : o.choices) {
        long n = 0;
        if (ParseInt(c.name, n) && n > top)
            top = n;
    }
    return NearestNumericChoice(o, static_cast<double>(std::lround(level * static_cast<double>(top) / 100.0)),
                                o.defaultChoice);
}

// The page size choice: the PPD size the media matches to a tenth of a
// millimetre, else a custom size.
std::string PageSizeChoice(const PpdModel &model, const JobValues &values)
{
    std::string size;
    for (const PpdMedia &m : model.media) {
        if (std::fabs(m.width * 2540.0 / 72.0 - values.mediaWidth) < 10 &&
            std::fabs(m.length * 2540.0 / 72.0 - values.mediaLength) < 10)
            size = m.name;
    }
    if (size.empty()) {
        char custom[64];
        snprintf(custom, sizeof custom, "Custom.%.2fx%.2fmm", values.mediaWidth / 100.0, values.mediaLength / 100.0);
        size = custom;
    }
    return size;
}

} // namespace

std::string JobSettings::Apply(const JobValues &values, int maxVendor)
{
    std::map<std::string, std::string> chosen = m_choices;
    for (const IppOption &ipp : IppOptions(m_model, maxVendor)) {
        const PpdOption &o = *ipp.option;
        std::string &choice = chosen[o.keyword];
        switch (ipp.kind) {
        case IppKind::Fixed:
            break;
        case IppKind::ColorMode:
            if (values.color && HasChoice(o, "RGB"))
                choice = "RGB";
            else if (!values.color && HasChoice(o, "Gray"))
                choice = "Gray";
            break;
        case IppKind::Darkness:
            if (values.printDarkness != 0 || values.darknessChosen || HasChoice(o, "Default"))
                choice = DarknessChoice(o, values);
            break;
        case IppKind::Speed:
            if (values.printSpeed > 0)
                choice = NearestNumericChoice(o, values.printSpeed / 2540.0, o.defaultChoice);
            else if (HasChoice(o, "Default"))
                choice = "Default";
            break;
        case IppKind::Tracking:
            for (const auto &t : kTrackingChoices)
                if (values.tracking == t[0] && HasChoice(o, t[1]))
                    choice = t[1];
            break;
        case IppKind::LabelMode:
            for (const auto &t : kLabelModeChoices)
                if (values.labelMode == t[0] && HasChoice(o, t[1]))
                    choice = t[1];
            break;
        case IppKind::LeftOffset:
            choice = NearestNumericChoice(o, values.leftOffset / 100.0, o.defaultChoice);
            break;
        case IppKind::TopOffset:
            choice = NearestNumericChoice(o, values.topOffset / 100.0, o.defaultChoice);
            break;
        case IppKind::Vendor: {
            auto it = values.vendor.find(ipp.name);
            if (it == values.vendor.end() || it->second.empty())
                break;
            std::string c = ChoiceForVendorValue(o, it->second);
            if (c.empty())
                return "\"" + it->second + "\" is not a value of " + ipp.name + ".";
            choice = c;
            break;
        }
        }
    }

    if (values.mediaWidth > 0 && values.mediaLength > 0)
        chosen["PageSize"] = PageSizeChoice(m_model, values);
    m_choices = std::move(chosen);
    return std::string();
}

std::string JobSettings::Choice(const char *keyword)
{
    auto it = m_choices.find(keyword);
    return it == m_choices.end() ? std::string() : it->second;
}

std::string JobSettings::Attribute(const char *name)
{
    return m_model.FindAttribute(name);
}
