// The dialog's catalogue for the page, generated at build time from the resource scripts.
#pragma once

struct CatalogueText {
    unsigned id;
    const wchar_t* text;
};

extern const CatalogueText ENGLISH_CATALOGUE[];
extern const unsigned ENGLISH_CATALOGUE_SIZE;
extern const CatalogueText GERMAN_CATALOGUE[];
extern const unsigned GERMAN_CATALOGUE_SIZE;

// German from now on when german is true, else English (the default).
void useGermanCatalogue(bool german);
// The message in the chosen language; an empty text for an ID the catalogue lacks.
const wchar_t* catalogueText(unsigned id);
