// The web interface's words: PAPPL shows a vendor attribute under the
// localisation string of its name and each keyword value under
// "name.value", and a media size under "media.size-name". Without them it
// shows the codes; these strings give the PPD's own words.
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "DriverTable.h"
#include "PapplDriver.h"

namespace {

// The PPDs are written in ISO Latin-1; the strings are UTF-8.
std::string Utf8(const char *latin1)
{
    std::string out;
    for (const char *p = latin1; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Quoted(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Millimetres(double points)
{
    char text[32];
    snprintf(text, sizeof text, "%g", std::round(points * 254.0 / 72.0) / 10.0);
    return text;
}

// "key" = "value"; lines for every driver, the first driver's words where
// two drivers name the same thing.
std::string StringsData()
{
    std::map<std::string, std::string> pairs;
    for (const PpdModel &m : AllModels()) {
        for (const IppOption &ipp : IppOptions(m, kMaxVendor)) {
            if (ipp.kind != IppKind::Vendor)
                continue;
            pairs.emplace(ipp.name, Utf8(ipp.option->text));
            for (const PpdChoice &c : ipp.option->choices)
                pairs.emplace(ipp.name + "." + KeywordOf(c.name), Utf8(c.text));
        }
        for (const PpdMedia &media : m.media) {
            const std::string size = Millimetres(media.width) + " x " + Millimetres(media.length) + " mm";
            const std::string text = Utf8(media.text);
            pairs.emplace("media." + MediaName(media), text == size ? size : text + " (" + size + ")");
        }
    }
    std::string data;
    for (const auto &p : pairs)
        data += Quoted(p.first) + " = " + Quoted(p.second) + ";\n";
    return data;
}

} // namespace

void AddWebStrings(pappl_system_t *system)
{
    // Every language PAPPL 1.3 has its own words for gets ours, so that no
    // browser language shows the codes.
    static const char *const kLanguages[] = {"en", "de", "es", "fr", "it", "ja", "nb-NO", "pl", "tr"};
    static const std::string data = StringsData();
    static std::map<std::string, std::string> paths;
    for (const char *language : kLanguages) {
        std::string &path = paths[language];
        path = std::string("/quillfeed-") + language + ".strings";
        papplSystemAddStringsData(system, path.c_str(), language, data.c_str());
#ifdef QF_PAPPL_1_3
        // PAPPL 1.3 answers every Get-Printer-Attributes that asks for
        // "printer-strings-languages-supported" (a plain request does) by
        // adding one more copy of it to the printer itself, while a strings
        // resource with a language exists: the printer's attributes grow
        // with every request. The words are in the web interface's
        // localisation once added; the resource itself goes, and with it
        // "printer-strings-uri" (IPP clients show our option keywords).
        papplSystemRemoveResource(system, path.c_str());
#endif
    }
}
