// What an identified unit allows, the same in every front end: the dialog judges it for the one
// model it serves, the command-line updater and the page for every model they carry.
#pragma once

#include "model/model_table.h"

#include <cstdint>

enum class UnitVerdict {
    OfferUpdate,
    WrongMode,       // the unit runs its own bootloader
    NoUpdatableEsc,  // nothing, or something other than an updatable ESC, is attached
    Incompatible,    // an ESC of another model (of none of the models served)
};

// The checks come in this order: a unit in the wrong mode is refused whatever is attached, and no
// hardware ID is looked at unless an updatable ESC is attached.
UnitVerdict judgeAttachedUnit(std::uint8_t unitMode, std::uint16_t attachedType, std::uint32_t escHardwareId,
                              std::uint8_t modelIdByte);

struct UnitJudgement {
    UnitVerdict verdict;
    const ModelRow* model;  // the row that accepts the ESC; null unless the verdict is OfferUpdate
};

// The same checks in the same order, for a program that serves every row of the model table: the
// ESC is compatible when some row accepts its hardware ID, and that row is the model to update.
UnitJudgement judgeAttachedUnitForAnyModel(std::uint8_t unitMode, std::uint16_t attachedType,
                                           std::uint32_t escHardwareId);

// The catalogue message that explains a refusal, to be followed by the connection steps; 0 for
// OfferUpdate, which explains nothing.
unsigned refusalMessage(UnitVerdict verdict);
