// Reading a job's settings record (tagREGSTRUCT) from PPD keywords.
//
// The reader asks a SettingsSource for the marked choice of each option
// keyword, and for a few PPD attributes, in a fixed order, and traces what it
// sets. The filter feeds it from its PPD (PpdSettingsSource); another front
// end maps its own job attributes onto the same keywords and choice strings.
#pragma once

#include <cups/ppd.h>

#include <functional>
#include <string>

#include "RegStruct.h"

class SettingsSource {
public:
    virtual ~SettingsSource() = default;
    // The marked choice of an option keyword, "" when none.
    virtual std::string Choice(const char *keyword) = 0;
    // A PPD attribute's value, "" when absent (e.g. DoubleColor).
    virtual std::string Attribute(const char *name) = 0;
    // Whether the source has the option at all. The newer keywords are asked
    // for only when offered, so that a PPD without them traces as before.
    virtual bool Offers(const char *) { return true; }
};

// One finished trace line, without a line end.
using TraceLine = std::function<void(const std::string &line)>;

// The choices of an opened and marked PPD. Each Choice() traces the marked
// choice it found (or that there is none).
class PpdSettingsSource : public SettingsSource {
public:
    PpdSettingsSource(ppd_file_t *ppd, TraceLine trace) : m_ppd(ppd), m_trace(std::move(trace)) {}
    std::string Choice(const char *keyword) override;
    std::string Attribute(const char *name) override;
    bool Offers(const char *keyword) override;

private:
    ppd_file_t *m_ppd;
    TraceLine m_trace;
};

// Fills `reg` from the source; members whose keyword has no choice keep
// their value (Darkness and zePrintRate fall back to the printer's own, -1).
// A choice outside what the printers take is held at it; the line that says
// so goes to the trace and, when given, to `warning` for the user.
void ReadSettings(SettingsSource &source, tagREGSTRUCT &reg, const TraceLine &trace,
                  const TraceLine &warning = nullptr);
