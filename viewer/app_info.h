#pragma once

// The program's names as the window title, the About box and the desktop show them.
namespace AppInfo {

inline constexpr const char* kVersion = VT_VERSION;
// The main window's own title; a document's name goes before it.
inline constexpr const char* kMainTitle = "Vantoro Software Image Viewer " VT_VERSION;
// The name of a document not read from a file.
inline constexpr const char* kUntitled = "Untitled";
// The desktop entry and icon name.
inline constexpr const char* kDesktopName = "vtview";
// The maker's web address printed in every page's footer, unless "Settings"/"MakerWebAddress"
// says otherwise.
inline constexpr const char* kMakerWebAddress = "www.vantorosoftware.com";

}  // namespace AppInfo
