#pragma once

#include <lcms2.h>

#include <cstdint>
#include <vector>

// The bytes of a profile made with LittleCMS; closes the profile.
std::vector<uint8_t> SavedProfile(cmsHPROFILE profile);

// A matrix-shaper RGB profile of these primaries, white point D65, and one gamma curve for
// all three channels.
std::vector<uint8_t> GammaRgbProfile(const cmsCIExyYTRIPLE& primaries, double gamma);
