// The message catalogue: every sentence the program shows, in English and German, loaded by ID
// in the user's language. The IDs are in ui/res/resource_ids.h.
#pragma once

#include "ui/res/resource_ids.h"
#include "update/update_logic.h"

// Copies the message's text into buffer, zero-terminated and cut at 2047 characters. An ID
// without an entry leaves an empty text.
void loadMessage(unsigned id, wchar_t (&buffer)[TEXT_BUFFER_CHARS]);
