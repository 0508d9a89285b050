#include "ui/messages.h"

#include "ui/app_globals.h"

void loadMessage(unsigned id, wchar_t (&buffer)[TEXT_BUFFER_CHARS]) {
    // The loader picks the language of the user interface: German there, English otherwise.
    buffer[0] = L'\0';
    LoadStringW(AppInstance, id, buffer, static_cast<int>(TEXT_BUFFER_CHARS));
}
