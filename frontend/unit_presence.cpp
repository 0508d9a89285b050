#include "frontend/unit_presence.h"

#include "frontend/presence_messages.h"

bool evaluatesArrival(bool linkOpen, bool updateUsesTheLink) { return !linkOpen && !updateUsesTheLink; }

RemovalAnswer answerRemoval(bool linkOpen, bool isTheOpenUnit, bool updateSending) {
    if (!linkOpen || !isTheOpenUnit) return RemovalAnswer::Ignore;
    return updateSending ? RemovalAnswer::NoteUntilUpdateEnds : RemovalAnswer::ConnectionLost;
}

EvaluationDecision decideEvaluation(EvaluationOrigin origin, bool opened, UnitVerdict verdict) {
    if (!opened) {
        // At start-up the person is told that no unit is there; an arrival that failed changes
        // nothing, but a unit that was opened and then failed identification is not kept half-open,
        // where it would block every later arrival.
        if (origin == EvaluationOrigin::StartUp) return {EvaluationAnswer::Refuse, MSG_NO_UNIT_FOUND};
        return {EvaluationAnswer::LeaveAsItWas, 0};
    }
    switch (verdict) {
        case UnitVerdict::OfferUpdate: return {EvaluationAnswer::OfferUpdate, 0};
        case UnitVerdict::Incompatible: return {EvaluationAnswer::RefuseIncompatible, 0};
        case UnitVerdict::WrongMode:
        case UnitVerdict::NoUpdatableEsc: break;
    }
    return {EvaluationAnswer::Refuse, refusalMessage(verdict)};
}
