// Lengths between the units of the settings record and printer dots.
#pragma once

// Converts `value` from unit `from` to unit `to`: millimetres (0),
// centimetres (1), inches (2) or dots (3) at `dpi`. An unknown unit, or the
// same unit twice, leaves the value as it is.
float ConvertUnits(int from, int to, float value, int dpi);

// A length in unit `unit` (normally millimetres) as whole dots at `dpi`:
// + 0.5 in double precision, then truncation toward zero (so -3 mm at
// 203 dpi is -23 dots); held at the int range.
int LengthToDots(float length, int unit, int dpi);
