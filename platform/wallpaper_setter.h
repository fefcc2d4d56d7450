#pragma once

#include <QString>

// How the desktop lays the picture out on the screen.
enum class WallpaperPlacement {
    Centered,
    Tiled,
    Stretched,
    // Enlarged or reduced to the screen, keeping its proportions.
    Scaled,
};

// Makes the picture file the wallpaper of the running desktop, recognised from the first
// entry of XDG_CURRENT_DESKTOP that names one it knows:
// - GNOME, Unity and Budgie: `gsettings` on org.gnome.desktop.background (the picture URI,
//   the dark-style URI where the desktop has that key, and the picture option);
// - Cinnamon and MATE: `gsettings` on their own background schemas;
// - KDE Plasma: a script for every desktop through the shell's D-Bus scripting interface;
// - Xfce: `xfconf-query` on every backdrop of the xfce4-desktop channel.
// Blocks until the desktop has answered. Returns false when no known desktop runs, its
// tool or service is missing, or it refuses the picture.
bool SetDesktopWallpaper(const QString& file, WallpaperPlacement placement);
