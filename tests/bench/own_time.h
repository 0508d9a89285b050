// The one measure of what a front end costs during a whole update, for the dialog under Wine,
// quenlor and the page alike: the program's own time, from stamps taken at the seam where the
// program's calls meet the unit.
//
// For every exchange of the update the seam stamps four moments. The program's own time of an
// exchange is the time from the reply handed to it to its next request, plus its time inside the
// exchange between the end of its write and its asking for the reply, less the wait the update
// owes the unit there (20 ms after every step and block, 1,000 ms inside the erase, 4,000 ms after
// it). The rest of each exchange is the seam's and the unit's: the transport and the answering.
// Where the seam pushes replies (WebHID's inputreport), there is no asking: the reply counts as
// handed when it came, or when the wait owed inside the exchange was over, whichever is later.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BenchExchange {
    std::uint8_t command = 0;          // the request's command byte
    std::uint64_t requestTakenUs = 0;  // the program handed the request to the seam
    std::uint64_t requestDoneUs = 0;   // the seam gave the program back control after the write
    std::uint64_t replyAskedUs = 0;    // the program asked for the reply; 0 where replies are pushed
    std::uint64_t replyHandedUs = 0;   // the reply reached the program
    std::uint64_t answeringUs = 0;     // the unit's own share of the exchange, by the unit's account
};

struct OwnTimeFigures {
    std::string error;  // empty when the figures can be right
    std::uint32_t blocks = 0;
    double wallMs = 0;       // the first request taken to the last reply handed
    double owedMs = 0;       // the waits the update owes the unit
    double ownMs = 0;        // the program's own time, summed over the exchanges
    double ownMeanMs = 0;
    double ownMaxMs = 0;
    double transportMs = 0;  // the seam's share of the exchanges, the unit's answering left out
    double answeringMs = 0;
    double ownRatio = 0;     // (owed + own) / owed
};

// The update's exchanges in order, from the system lock to its release. An error names what makes
// the figures impossible: a course other than the update's, a wall time shorter than the waits
// owed, a ratio below 1, or a request sent before its wait was over (a pacing fault, with the
// exchange). Stamps may be coarse by up to stampResolutionUs.
OwnTimeFigures measureOwnTime(const std::vector<BenchExchange>& exchanges, std::uint64_t stampResolutionUs);

// One line for a repeat: "<label>: 2032 blocks, wall ... own ratio 1.0012".
std::string describeOwnTime(const std::string& label, const OwnTimeFigures& figures);

struct RepeatSpread {
    double median = 0;
    double spread = 0;  // the largest less the smallest
};
RepeatSpread spreadOfRepeats(std::vector<double> ratios);

// The commands of the update's course; identification's are others.
bool isUpdateCommand(std::uint8_t command);

// The goal every front end is measured against.
constexpr double OWN_RATIO_GOAL = 1.01;
