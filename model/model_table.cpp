#include "model/model_table.h"

#include "model/compatibility.h"

const ModelRow MODEL_ROWS[MODEL_ROW_COUNT] = {
#include "model/model_rows.inc"
};

const ModelRow* findModelByHardwareId(std::uint32_t escHardwareId) {
    for (const ModelRow& row : MODEL_ROWS) {
        if (isCompatibleHardwareId(escHardwareId, row.idByte)) return &row;
    }
    return nullptr;
}
