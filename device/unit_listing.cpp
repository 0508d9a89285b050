#include "device/unit_listing.h"

#include "device/device_link.h"

namespace {

struct ListingContext {
    ProgrammingUnitVisitor visit;
    void* context;
    std::int32_t units;
};

bool visitIfProgrammingUnit(const HidInterfaceInfo& info, void* context) {
    if (!isProgrammingUnit(info.vendorId, info.productId)) return false;
    ListingContext& listing = *static_cast<ListingContext*>(context);
    ProgrammingUnitEntry entry{info.path, info.productId, HidOpenFailure::None, 0};
    const HANDLE device = hidPortOpen(info.path, &entry.openFailure);
    if (device == INVALID_HANDLE_VALUE) {
        entry.openError = hidPortLastError();
    } else {
        hidPortClose(device);
    }
    ++listing.units;
    listing.visit(entry, listing.context);
    return false;
}

}  // namespace

std::int32_t listProgrammingUnits(ProgrammingUnitVisitor visit, void* context) {
    ListingContext listing{visit, context, 0};
    if (!hidPortListInterfaces(visitIfProgrammingUnit, &listing)) return -1;
    return listing.units;
}
