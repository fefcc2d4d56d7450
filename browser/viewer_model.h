#pragma once

#include "browser/display_mode.h"

#include <QString>

// The state the image view and the folder browser share: one object, owned by the main
// frame and handed to the parts that read or change it, used on the user-interface thread
// only. The names are those the viewer has always used for them.
struct CViewerModel {
    // Display mode of the image view. Only the view interprets it.
    DisplayMode StretchState;
    // The document holds a successfully decoded image.
    bool g_bImageLoaded = false;
    // Full path of the image last selected in the file list.
    QString g_strCurrentFile;
    // The folder last selected in the directory tree.
    QString g_strLastDirectory;
    // A new folder was listed since the last thumbnail build.
    bool g_bFolderChanged = false;
    // A slide show runs inside the frame, or full screen (never both).
    bool g_bSlideShowInFrame = false;
    bool g_bSlideShowFullScreen = false;
};
