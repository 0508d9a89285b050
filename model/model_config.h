// The model this build serves. The values come from the build's row of model/models.cmake, through
// a header generated when the build is configured; they are fixed for the program's whole run.
#pragma once

#include "model/compatibility.h"
#include "model/model_row.h"

#include <cstdint>

constexpr wchar_t MODEL_NAME[] = L"" QUENLOR_MODEL_NAME_TEXT;
constexpr std::uint8_t MODEL_ID_BYTE = QUENLOR_MODEL_ID_BYTE;
// An RT_RCDATA resource, stored under German (1031) only; the lookup names no language.
constexpr std::uint16_t IMAGE_RESOURCE_ID = QUENLOR_IMAGE_RESOURCE_ID;
