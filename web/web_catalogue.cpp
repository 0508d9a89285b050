#include "web/web_catalogue.h"

#include <emscripten.h>

namespace {

bool German = false;

}  // namespace

void useGermanCatalogue(bool german) { German = german; }

const wchar_t* catalogueText(unsigned id) {
    const CatalogueText* table = German ? GERMAN_CATALOGUE : ENGLISH_CATALOGUE;
    const unsigned size = German ? GERMAN_CATALOGUE_SIZE : ENGLISH_CATALOGUE_SIZE;
    for (unsigned i = 0; i < size; ++i) {
        if (table[i].id == id) return table[i].text;
    }
    return L"";
}

// For the worker's own lines that the catalogue holds (the status of an update under way).
extern "C" EMSCRIPTEN_KEEPALIVE const wchar_t* quenlorCatalogueText(unsigned id) { return catalogueText(id); }
