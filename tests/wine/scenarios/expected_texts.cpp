// The message catalogue as a user must read it, in both languages, character for character. Every
// scenario takes its expected texts from here; the texts themselves are shared with the native tests.
#include "tests/wine/scenarios/scenario.h"

namespace {

const ExpectedText EXPECTED_TEXTS[] = {
#include "tests/expected_catalogue.inc"
};

}  // namespace

const ExpectedText* expectedTexts(std::size_t* count) {
    *count = sizeof EXPECTED_TEXTS / sizeof EXPECTED_TEXTS[0];
    return EXPECTED_TEXTS;
}
