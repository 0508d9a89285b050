// A front end for the update that records what the update did, in order, together with every
// request written to the unit: the course of one update as rows, compared with the expected
// course written as data. Its clock is the simulated bus's virtual clock; its waits advance it.
#pragma once

#include "update/update_frontend.h"

#include <cstdint>
#include <string>
#include <vector>

enum class CourseStep : std::uint8_t {
    Request,        // value: the command byte of a request written to the unit
    Pause,          // value: microseconds from the call to its deadline
    Ask,            // value: the question
    ProgressStart,  // value: the image's size
    Progress,       // value: the position
    Raise,          // value: 1 when the progress was brought forward
    ProgressEnd,
    Awake,          // value: 1 keep the system awake, 0 let it sleep again
    SessionHold,    // value: 1 hold off the session's end, 0 let it end again
    Failure,        // value: the step's message; code, lastError
    Success,
};

struct CourseRow {
    CourseStep step;
    std::uint32_t value;
    std::int32_t code;
    std::uint32_t lastError;
};

bool operator==(const CourseRow& a, const CourseRow& b);
std::string describe(const CourseRow& row);

struct FakeFrontendScript {
    bool acceptWarning = true;
    bool acceptOlderFirmware = true;
    std::uint32_t raiseRefusals = 0;      // the person looks elsewhere for this many raise checks
    std::uint32_t progressCostUs = 0;     // virtual time each progress position takes, as drawing does
    std::uint32_t unplugAtPosition = 0;   // non-zero: the unit is pulled out when progress reaches it
    int unplugDevice = -1;                // which device of the simulated bus
    const std::uint8_t* imageBytes = nullptr;  // null: the program has no image
    std::uint32_t imageSize = 0;
};

// Starts recording (also every write to the simulated bus) with the given script.
void fakeFrontendStart(const FakeFrontendScript& script);
const std::vector<CourseRow>& fakeFrontendCourse();
// Whether the system is being kept awake at the moment.
bool fakeFrontendKeepsAwake();
// Whether the session's end is being held off at the moment.
bool fakeFrontendHoldsSessionEnd();
// What the update said of its link when the front end was asked something (true: held by the
// update) and when it reported its outcome (false: free for arrivals); counted over the run.
struct LinkClaims {
    std::uint32_t asksWhileHeld = 0;
    std::uint32_t asksWhileFree = 0;
    std::uint32_t reportsWhileHeld = 0;
    std::uint32_t reportsWhileFree = 0;
};
LinkClaims fakeFrontendLinkClaims();
