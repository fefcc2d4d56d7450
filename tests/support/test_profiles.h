#pragma once

#include <lcms2.h>

#include <cstdint>
#include <vector>

// The bytes of a profile made with LittleCMS; closes the profile.
std::vector<uint8_t> SavedProfile(cmsHPROFILE profile);

// A matrix-shaper RGB profile of these primaries, white point D65, and one gamma curve for
// all three channels.
std::vector<uint8_t> GammaRgbProfile(const cmsCIExyYTRIPLE& primaries, double gamma);

// sRGB's primaries with red and green exchanged, sRGB's tone curve: a picture tagged with it
// shows red where its first channel is green, which no missing or repeated conversion hides.
std::vector<uint8_t> SwappedRedGreenProfile();

// Turns device samples (16 bits each) into the sRGB colour they stand for.
using DeviceToRgb = void (*)(const cmsUInt16Number in[], cmsUInt16Number rgb[]);
// A profile of lookup tables (ICC v4, as printer and some camera profiles are): a grid of
// gridPoints per channel from the device's channels to Lab, sampled through toRgb and sRGB.
std::vector<uint8_t> TableProfile(cmsColorSpaceSignature space, cmsProfileClassSignature deviceClass, int channels,
                                  int gridPoints, DeviceToRgb toRgb);

// A CMYK printer profile (ICC v4, a 9-point grid from inks to Lab) whose inks act as the
// plain formula's with cyan and magenta exchanged: cyan ink takes away green, magenta red.
// Through it cyan ink shows magenta; through the plain formula, cyan.
std::vector<uint8_t> SwappedInksProfile();
