// The text of a failed update's box, as every front end that shows the catalogue's texts writes it.
#pragma once

#include <cstddef>
#include <cstdint>

// The step's text and, unless code is -1, a line break and the error-code line made from
// errorLineFormat with the code and the last error as 8 lower-case hex digits. Always terminated
// within bufferChars.
void composeFailureText(wchar_t* buffer, std::size_t bufferChars, const wchar_t* stepText,
                        const wchar_t* errorLineFormat, std::int32_t code, std::uint32_t lastError);
