// Bounded wide-character formatting that always leaves a terminated text. The C libraries differ
// when a text does not fit: one cuts it and terminates it, another cuts it and leaves it
// unterminated and reports a failure. Every text of the program is formatted through this.
#pragma once

#include <cstddef>

// printf-style formatting into buffer, cut where needed so that it ends within bufferChars,
// terminator included. A format the C library cannot carry out leaves the text it got so far.
void formatBounded(wchar_t* buffer, std::size_t bufferChars, const wchar_t* format, ...);
