#include "frontend/failure_text.h"

#include "device/device_link.h"
#include "update/bounded_format.h"
#include "update/update_logic.h"

void composeFailureText(wchar_t* buffer, std::size_t bufferChars, const wchar_t* stepText,
                        const wchar_t* errorLineFormat, std::int32_t code, std::uint32_t lastError) {
    if (code == RESULT_NO_LINK) {
        formatBounded(buffer, bufferChars, L"%ls", stepText);
        return;
    }
    wchar_t errorLine[TEXT_BUFFER_CHARS];
    formatBounded(errorLine, TEXT_BUFFER_CHARS, errorLineFormat, static_cast<unsigned>(code),
                  static_cast<unsigned>(lastError));
    formatBounded(buffer, bufferChars, L"%ls\r\n%ls", stepText, errorLine);
}
