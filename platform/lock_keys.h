#pragma once

#include <optional>

// The keyboard's lock states as the display server reports them.
struct LockKeyState {
    bool capsLock = false;
    bool numLock = false;
    bool scrollLock = false;
};

// The lock states of the keyboard indicators; nothing when the display server does not
// tell them to applications (Wayland, the offscreen platform).
std::optional<LockKeyState> QueryLockKeys();
