#pragma once

#include <QString>

class CAutoDecoder;
class CDIBSectionBitmap;

// The state the whole viewer shares, all of it used on the user-interface thread only.

// The current image: every successful decode replaces its contents. It lives until the
// program ends; the document, the clipboard copy and the wallpaper read it.
CDIBSectionBitmap& TheCurrentBitmap();
// The any-format decoder every load of the current image goes through.
CAutoDecoder& TheImageDecoder();

// Display mode of the image view: 0 natural size, 1 stretch to fill, 2 proportional stretch,
// 3 tile, 9 and above a zoom percentage. The view is the only place that interprets it.
enum StretchMode : int {
    STRETCH_NATURAL = 0,
    STRETCH_FILL = 1,
    STRETCH_PROPORTIONAL = 2,
    STRETCH_TILE = 3,
};
extern int StretchState;

// The document holds a successfully decoded image.
extern bool g_bImageLoaded;
// Full path of the image last selected in the file list.
extern QString g_strCurrentFile;
// The folder last selected in the directory tree.
extern QString g_strLastDirectory;
// A new folder was listed since the last thumbnail build.
extern bool g_bFolderChanged;
// A slide show runs inside the frame, or full screen (never both).
extern bool g_bSlideShowInFrame;
extern bool g_bSlideShowFullScreen;

// Puts every value back to its start-up state (a new application object, or a test).
void ResetViewerState();
