// The update's requests as the simulated unit received them, for the update scenarios and the
// benchmark.
#pragma once

#include "device/device_link.h"
#include "sim/sim_unit.h"
#include "tests/bench/own_time.h"

#include <cstdint>
#include <vector>



// The update's requests in the order the unit received them; identification's are left out.
inline std::vector<const SimRequest*> updateRequests(const SimUnit& unit) {
    std::vector<const SimRequest*> requests;
    for (const SimRequest& request : unit.transcript) {
        if (isUpdateCommand(request.bytes[1])) requests.push_back(&request);
    }
    return requests;
}
