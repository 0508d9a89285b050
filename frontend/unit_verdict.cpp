#include "frontend/unit_verdict.h"

#include "device/device_link.h"
#include "frontend/presence_messages.h"
#include "model/compatibility.h"

namespace {

// The checks that come before any hardware ID: true when they already decide.
bool judgedBeforeTheEsc(std::uint8_t unitMode, std::uint16_t attachedType, UnitVerdict* verdict) {
    if (unitMode != 0) {
        *verdict = UnitVerdict::WrongMode;
        return true;
    }
    if (attachedType != ATTACHED_UPDATABLE_ESC) {
        *verdict = UnitVerdict::NoUpdatableEsc;
        return true;
    }
    return false;
}

}  // namespace

UnitVerdict judgeAttachedUnit(std::uint8_t unitMode, std::uint16_t attachedType, std::uint32_t escHardwareId,
                              std::uint8_t modelIdByte) {
    UnitVerdict verdict = UnitVerdict::OfferUpdate;
    if (judgedBeforeTheEsc(unitMode, attachedType, &verdict)) return verdict;
    return isCompatibleHardwareId(escHardwareId, modelIdByte) ? UnitVerdict::OfferUpdate : UnitVerdict::Incompatible;
}

UnitJudgement judgeAttachedUnitForAnyModel(std::uint8_t unitMode, std::uint16_t attachedType,
                                           std::uint32_t escHardwareId) {
    UnitJudgement judgement{UnitVerdict::OfferUpdate, nullptr};
    if (judgedBeforeTheEsc(unitMode, attachedType, &judgement.verdict)) return judgement;
    judgement.model = findModelByHardwareId(escHardwareId);
    if (judgement.model == nullptr) judgement.verdict = UnitVerdict::Incompatible;
    return judgement;
}

unsigned refusalMessage(UnitVerdict verdict) {
    switch (verdict) {
        case UnitVerdict::WrongMode: return MSG_WRONG_MODE;
        case UnitVerdict::NoUpdatableEsc: return MSG_NO_UPDATABLE_ESC;
        case UnitVerdict::Incompatible: return MSG_INCOMPATIBLE_STATUS;
        case UnitVerdict::OfferUpdate: break;
    }
    return 0;
}
