#include "web/web_catalogue.h"

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
