// A job's settings as PPD choices, from the values PAPPL hands the driver.
//
// The app answers the shared settings reader the way a marked PPD would: one
// choice string per option keyword of the model's own PPD, and the PPD's
// attributes. Every option starts at its PPD default; the IPP values of the
// job (or the printer's defaults) then pick other choices.
#pragma once

#include <map>
#include <string>

#include "DriverTable.h"
#include "SettingsReader.h"

// The IPP side of a job, without PAPPL types.
struct JobValues {
    int printDarkness = 0;       // print-darkness, -100..100; 0: printer's own
    int darknessConfigured = 50; // printer-darkness-configured, 0..100
    bool darknessChosen = false; // darknessConfigured is not a new printer's
    int printSpeed = 0;          // print-speed, hundredths of mm/s; 0: printer's own
    std::string tracking;        // media-tracking keyword, "" when unset
    double mediaWidth = 0;       // media size, hundredths of millimetres
    double mediaLength = 0;
    int leftOffset = 0;                        // media-left-offset, hundredths of millimetres
    int topOffset = 0;                         // media-top-offset
    std::string labelMode;                     // label-mode-configured keyword, "" when unset
    bool color = false;                        // print-color-mode color
    std::map<std::string, std::string> vendor; // vendor attribute values
};

class JobSettings : public SettingsSource {
public:
    // Every option of the model at its PPD default.
    explicit JobSettings(const PpdModel &model);
    // Applies a job's IPP values; a vendor value no choice of its option
    // names is an error (returned as a sentence), nothing is applied then.
    std::string Apply(const JobValues &values, int maxVendor);

    std::string Choice(const char *keyword) override;
    std::string Attribute(const char *name) override;

    void Set(const std::string &keyword, const std::string &choice) { m_choices[keyword] = choice; }

private:
    const PpdModel &m_model;
    std::map<std::string, std::string> m_choices;
};

// The darkness a new printer is configured with, for a Darkness option of
// `levels` numbered levels: the middle level, in the percent steps PAPPL's
// web interface offers (100 * level / (levels - 1)). Until another darkness
// is chosen, jobs leave the printer's own darkness.
int InitialDarknessConfigured(int levels);

// The choice of `option` nearest to `value` among its numeric choices; `none`
// is returned when the option has no numeric choice.
std::string NearestNumericChoice(const PpdOption &option, double value, const char *none = "");
// The choice whose IPP form is `value`: the integer value of a numeric
// choice, or the lowercased keyword of a word choice; "" when none.
std::string ChoiceForVendorValue(const PpdOption &option, const std::string &value);
