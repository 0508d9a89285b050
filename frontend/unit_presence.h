// How a front end answers a unit that arrives or goes, and what it does with the unit it opened:
// the dialog's rules, which the page follows too. Each front end only carries the answer out in
// its own way (status texts, the update button, the incompatibility box).
#pragma once

#include "frontend/unit_verdict.h"

enum class EvaluationOrigin {
    StartUp,  // the program has just started (on the page also: the person chose a unit)
    Arrival,  // a device arrived
};

// A device that arrives is looked at only while no unit is open and the update does not hold the
// link: an open unit stays the one in use.
bool evaluatesArrival(bool linkOpen, bool updateUsesTheLink);

enum class RemovalAnswer {
    Ignore,              // no link open, or another device went
    NoteUntilUpdateEnds, // the update is sending: its next command fails as the device's own failure
    ConnectionLost,      // close the link and say that the connection was lost
};
RemovalAnswer answerRemoval(bool linkOpen, bool isTheOpenUnit, bool updateSending);

enum class EvaluationAnswer {
    Refuse,            // close the link, show refusalMessage with the connection steps
    LeaveAsItWas,      // close the half-open link quietly; the status stays as it was
    OfferUpdate,
    RefuseIncompatible,  // close the link, then the box about an ESC of another model
};
struct EvaluationDecision {
    EvaluationAnswer answer;
    unsigned refusalMessage;  // for Refuse; 0 otherwise
};
// opened: whether the unit was opened and identified; verdict counts only then.
EvaluationDecision decideEvaluation(EvaluationOrigin origin, bool opened, UnitVerdict verdict);
