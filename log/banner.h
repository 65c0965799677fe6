// The banner written at every start, and the licence text of -license.
#pragma once

#include <cstdint>

// Width of the banner's frame lines, in "#" characters.
inline constexpr int kBannerWidth = 79;

// The edition's label, a short text with one blank on each side; "" for an
// edition code without a label (anything outside 1..8).
const char* EditionLabel(uint32_t edition_code);

// Writes the banner with LogWrite: no time stamps, whatever the verbosity.
void PrintBanner(uint32_t edition_code);

// The five pieces of the licence text, in order.
inline constexpr int kLicencePieces = 5;
const char* LicencePiece(int index);

// Prints the licence text on standard output only (never into the log).
void PrintLicence();
