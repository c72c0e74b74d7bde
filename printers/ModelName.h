// A PPD's ModelName naming one model of a family: the model alone or, as
// ppdc writes it with the maker before it, as its last word ("Niimbot B21"),
// in any case.
#pragma once

#include <cctype>
#include <string>

inline bool NamesModel(const std::string &modelName, const std::string &model)
{
    std::string upper;
    for (char c : modelName)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper == model || (upper.size() > model.size() &&
                              upper.compare(upper.size() - model.size() - 1, std::string::npos, " " + model) == 0);
}
