#include "update/bounded_format.h"

#include <cstdarg>
#include <cwchar>

void formatBounded(wchar_t* buffer, std::size_t bufferChars, const wchar_t* format, ...) {
    if (bufferChars == 0) return;
    // Zeroed first, so that whatever the library leaves behind a cut or failed text is no garbage.
    std::wmemset(buffer, L'\0', bufferChars);
    std::va_list arguments;
    va_start(arguments, format);
    std::vswprintf(buffer, bufferChars, format, arguments);
    va_end(arguments);
    buffer[bufferChars - 1] = L'\0';
}
