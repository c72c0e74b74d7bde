// Every model guess names a driver of the app's table, of the family the
// guess says, and a device ID that picks that driver: the maker and the
// model of its PPD.
#include <gtest/gtest.h>

#include <cstring>

#include "BtGuess.h"
#include "DriverTable.h"

namespace {

const char *const kNames[] = {"Paperang", "Paperang_P2", "PeriPage_1234", "PeriPage+1234", "MTP-II",   "POS-80C",
                              "XP-365B",  "RPP02N",      "PT-210",        "GB01",          "MX10",     "MXW01",
                              "D11-A123", "D110-H456",   "B18-C1",        "B1-G789",       "B21-L2B3", "M02 Pro",
                              "M110",     "M120",        "M220",          "M221"};

std::string Field(const std::string &id, const std::string &key)
{
    const size_t at = id.find(key + ":");
    if (at == std::string::npos)
        return std::string();
    const size_t start = at + key.size() + 1;
    return id.substr(start, id.find(';', start) - start);
}

TEST(GuessDrivers, EachGuessNamesADriverOfItsFamily)
{
    for (const char *name : kNames) {
        const bt::Guess g = bt::GuessModel(name);
        const PpdModel *model = FindModel(g.driver);
        ASSERT_NE(model, nullptr) << name << ": " << g.driver;
        EXPECT_EQ(bt::FamilyOfModelNumber(model->modelNumber), g.family) << name;
    }
}

TEST(GuessDrivers, DeviceIdNamesTheMakerAndModelOfThatDriver)
{
    for (const char *name : kNames) {
        const bt::Guess g = bt::GuessModel(name);
        const PpdModel *model = FindModel(g.driver);
        ASSERT_NE(model, nullptr) << name;
        const std::string mfg = Field(g.deviceId, "MFG"), mdl = Field(g.deviceId, "MDL");
        EXPECT_EQ(strcasecmp(mfg.c_str(), model->manufacturer), 0) << name << ": " << mfg;
        const std::string full = mfg + " " + mdl;
        EXPECT_TRUE(mdl == model->modelName || strcasecmp(full.c_str(), model->modelName) == 0)
            << name << ": " << model->modelName;
    }
}

} // namespace
