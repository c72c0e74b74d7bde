#include "Units.h"

#include <climits>

// Length conversion between millimetres (0), centimetres (1), inches (2) and
// dots (3) at the page's horizontal resolution. Steps with 25.4 run in double
// precision on the widened float; the others stay in single precision, which
// is what the printers' dot counts have always been computed with.
float ConvertUnits(int from, int type, float value, int resolution)
{
    if (from < 0 || from > 3 || type < 0 || type > 3 || from == type)
        return value;
    const float dpi = static_cast<float>(resolution);
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
int LengthToDots(float length, int unit, int dpi)
{
    double dots = static_cast<double>(ConvertUnits(unit, 3, length, dpi)) + 0.5;
    if (!(dots > INT_MIN))
        return INT_MIN;
    if (dots >= 2147483647.0)
        return INT_MAX;
    return static_cast<int>(dots);
}
