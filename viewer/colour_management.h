#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class CCommandTable;

// View > Colour Management: whether decoded pictures are converted from their own profile
// to the screen's (the monitor profile the display publishes, else sRGB). The state is kept
// in the profile as "Settings/ColourManagement" (1 or 0, on when missing) and is the image
// library's default for every decode made after it is set.
class CColourManagement {
public:
    // Reads the monitor profile and the saved state and hands both to the library, so it
    // must exist before the first picture is decoded.
    CColourManagement();

    // 32832: checked while on. Toggling saves the new state, hands it to the library and
    // calls reshow so that the picture on the screen is decoded again.
    void RegisterCommands(CCommandTable& commands, std::function<void()> reshow);

private:
    void Toggle();
    void Apply() const;

    bool on_ = true;
    // Empty when the display publishes none.
    std::vector<uint8_t> monitorProfile_;
    std::function<void()> reshow_;
};
