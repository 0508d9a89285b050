// Every model Quenlor serves, as rows of model/models.cmake: for the program that serves them all
// (the command-line updater picks the row by the ESC's hardware ID) and for the tests.
#pragma once

#include "model/model_row_count.h"

#include <cstddef>
#include <cstdint>

struct ModelRow {
    const wchar_t* name;
    std::uint8_t idByte;
    std::uint16_t imageResourceId;
    std::uint32_t imageBytes;
};

constexpr std::size_t MODEL_ROW_COUNT = QUENLOR_MODEL_ROW_COUNT;
extern const ModelRow MODEL_ROWS[MODEL_ROW_COUNT];

// The row whose accepted hardware IDs include escHardwareId; null when no model accepts it.
const ModelRow* findModelByHardwareId(std::uint32_t escHardwareId);
