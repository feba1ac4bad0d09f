// Reading numbers from texts without depending on the process locale.
#pragma once

#include <string>

namespace zel {

// Reads the whole text as a decimal floating-point number: optional sign,
// digits with one decimal separator, optional exponent. The separator may be
// '.', ',' or `separator`. Leading and trailing blanks are allowed; anything
// else (an empty text, "12abc", two separators) fails.
bool TextToDouble(const std::string& text, double& value, char separator = '.');

// The value truncated toward zero, clamped to the int range (NaN gives 0).
int TruncateToInt(double value);

}  // namespace zel
