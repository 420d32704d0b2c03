// Number formatting that follows the user's locale, as the display texts of the library expect.
#pragma once

namespace kez {

// The decimal separator of the user's locale, read from the C library's numeric locale the first time it is
// asked for. A program (or a test) may set it, as it would change its locale.
char DecimalSeparator();
void SetDecimalSeparator(char aSeparator);

} // namespace kez
