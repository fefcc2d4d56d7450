#pragma once

#include <cstdint>
#include <vector>

// The ICC profile of the monitor as the X display publishes it: the `_ICC_PROFILE` property
// (CARDINAL, 8-bit) of the default screen's root window, which colour daemons set. Empty
// when the property is missing or of another type, and off X11 (Wayland, the offscreen
// platform). The bytes are passed on unchecked: whoever uses them judges the profile.
std::vector<uint8_t> ReadMonitorProfile();
