#include "viewer/viewer_state.h"

#include "codecs/auto_decoder.h"
#include "imagelib/dib_section_bitmap.h"

int StretchState = STRETCH_NATURAL;
bool g_bImageLoaded = false;
QString g_strCurrentFile;
QString g_strLastDirectory;
bool g_bFolderChanged = false;
bool g_bSlideShowInFrame = false;
bool g_bSlideShowFullScreen = false;

void ResetViewerState() {
    StretchState = STRETCH_NATURAL;
    g_bImageLoaded = false;
    g_strCurrentFile.clear();
    g_strLastDirectory.clear();
    g_bFolderChanged = false;
    g_bSlideShowInFrame = false;
    g_bSlideShowFullScreen = false;
}

CDIBSectionBitmap& TheCurrentBitmap() {
    static CDIBSectionBitmap bitmap;
    return bitmap;
}

CAutoDecoder& TheImageDecoder() {
    static CAutoDecoder decoder;
    return decoder;
}
