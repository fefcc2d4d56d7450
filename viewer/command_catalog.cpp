#include "viewer/command_catalog.h"

#include "viewer/command_ids.h"

#include <QIcon>

#include <algorithm>
#include <array>
#include <vector>

namespace {

// clang-format off
constexpr std::array kCommands = {
    // File menu
    CommandInfo{ID_FILE_OPEN, "&Open...\tCtrl+O", "Open a picture, its folder listed around it\nOpen", "document-open", nullptr},
    CommandInfo{ID_CLEAR_RECENT_FILES, "Clear", "Forget the recently opened pictures\nClear Recent", nullptr, nullptr},
    CommandInfo{ID_FILE_PRINT, "&Print...\tCtrl+P", "Print the active document\nPrint", "document-print", "print"},
    CommandInfo{ID_FILE_PRINT_PREVIEW, "Print Pre&view", "Display full pages\nPrint Preview", "document-print-preview", "print-preview"},
    CommandInfo{ID_FILE_PRINT_SETUP, "P&rint Setup...", "Change the printer and printing options\nPrint Setup", nullptr, nullptr},
    CommandInfo{ID_DELETE_FILE, "Delete File ...", "Delete displayed image from disk \nDelete image", "edit-delete", "delete"},
    CommandInfo{ID_FILE_PROPERTIES, "Properties ...", "Show Properties of File", nullptr, nullptr},
    CommandInfo{ID_FILE_SEND_MAIL, "E-mail Image ...", "E-mail current image as attachment \nE-mail Image", "mail-message-new", "mail"},
    CommandInfo{ID_APP_EXIT, "E&xit", "Quit the application\nExit", nullptr, nullptr},
    // Edit menu
    CommandInfo{ID_EDIT_COPY, "&Copy\tCtrl+C", "Copy the selection and put it on the Clipboard \nCopy", "edit-copy", "copy"},
    CommandInfo{ID_WALLPAPER_PROPORTIONAL, "Proportional Stretched", "Make Wallpaper and stretch picture proportionally to fit", nullptr, nullptr},
    CommandInfo{ID_WALLPAPER_CENTERED, "Centered", "Make image current wall paper - Centered on Desktop", nullptr, nullptr},
    CommandInfo{ID_WALLPAPER_STRETCHED, "Stretched", "Make image current wall paper - Stretched on Desktop", nullptr, nullptr},
    CommandInfo{ID_WALLPAPER_TILED, "Tiled", "Make image current wall paper - Tiled on Desktop", nullptr, nullptr},
    CommandInfo{ID_ROTATE_LEFT, "Rotate Left\tCtrl+L", "Turn the image a quarter counter-clockwise\nRotate Left", "object-rotate-left", nullptr},
    CommandInfo{ID_ROTATE_RIGHT, "Rotate Right\tCtrl+Shift+L", "Turn the image a quarter clockwise\nRotate Right", "object-rotate-right", nullptr},
    CommandInfo{ID_FLIP_HORIZONTALLY, "Flip Horizontally", "Mirror the image left to right\nFlip Horizontally", "object-flip-horizontal", nullptr},
    CommandInfo{ID_FLIP_VERTICALLY, "Flip Vertically", "Mirror the image top to bottom\nFlip Vertically", "object-flip-vertical", nullptr},
    // View menu
    CommandInfo{ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar", nullptr, nullptr},
    CommandInfo{ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar", nullptr, nullptr},
    CommandInfo{ID_DIRECTORY_TREE_BAR, "Directory Tree Bar", "Show/Hide Bar with Directory Tree \n Show/Hide Directory Tree Bar", "folder", "directory-bar"},
    CommandInfo{ID_FILE_LIST_BAR, "File List Bar", "Show/Hide Bar with file list \n Show/Hide file list Bar", "view-list-details", "file-list-bar"},
    CommandInfo{ID_LIST_BY_NAMES, "List by File Names", "", "view-list-text", "names"},
    CommandInfo{ID_THUMBNAILS, "Thumbnail Preview", "View Images as Thumbnails\nThumbnails", "view-list-icons", "thumbnails"},
    CommandInfo{ID_SLIDE_SHOW, "Slide Show In Frame", "Start Slide Show of files in current directory \nStart Slide Show", "media-playback-start", "slide-show"},
    CommandInfo{ID_SLIDE_SHOW_FULL_SCREEN, "Slide Show Full Screen", "Full Screen Slide Show  in current directory \nStart Full Screen Slide Show", "view-fullscreen", "full-screen"},
    CommandInfo{ID_DELAY_1, "1 Second", "1 Second delay between image display", nullptr, nullptr},
    CommandInfo{ID_DELAY_2, "2 Seconds", "2 Seconds delay between image display (Default)", nullptr, nullptr},
    CommandInfo{ID_DELAY_5, "5 Seconds", "5 Seconds delay between image display", nullptr, nullptr},
    CommandInfo{ID_DELAY_10, "10 Seconds", "10 Seconds delay between image display", nullptr, nullptr},
    CommandInfo{ID_DELAY_15, "15 Seconds", "15 Seconds delay between image display", nullptr, nullptr},
    CommandInfo{ID_DELAY_20, "20 Seconds", "20 Seconds delay between image display", nullptr, nullptr},
    CommandInfo{ID_DELAY_30, "30 Seconds", "30 Seconds delay between image display", nullptr, nullptr},
    CommandInfo{ID_FULL_SCREEN, "Full Screen\tF11", "Show the picture alone on the whole screen\nFull Screen", "view-fullscreen", nullptr},
    CommandInfo{ID_SHOW_HIDDEN_FILES, "Show Hidden Files", "List files and folders whose names start with a dot\nShow Hidden Files", nullptr, nullptr},
    CommandInfo{ID_REFRESH, "&Refresh\tF5", "Read the folder and the folder tree again\nRefresh", "view-refresh", nullptr},
    CommandInfo{ID_PAUSE_ANIMATION, "Pause Animation\tP", "Pause or resume the animated picture\nPause Animation", "media-playback-pause", nullptr},
    CommandInfo{ID_TRANSPARENCY_CHECKERBOARD, "Checkerboard", "Show transparent parts of the image over a checkerboard", nullptr, nullptr},
    CommandInfo{ID_TRANSPARENCY_BACKGROUND, "Background", "Show transparent parts of the image over the view's background", nullptr, nullptr},
    CommandInfo{ID_COLOUR_MANAGEMENT, "Colour Management", "Convert colours from the picture's profile to the screen's", nullptr, nullptr},
    CommandInfo{ID_DEFAULT_BARS, "Default View Settings", "Reset Directory and File Bars to original settings \nReset to Default Settings", nullptr, nullptr},
    // Zoom menu
    CommandInfo{ID_STRETCH_TO_FILL, "&Stretch to Fill\tCtrl+S", "Stretch or Shrink Image to fill viewing area \nStretch Image to fill view", nullptr, "stretch"},
    CommandInfo{ID_PROPORTIONAL_STRETCH, "P&roportional Stretch\tCtrl+R", "Stretch to fill viewing area and maintain image aspect ratio \nStretch to full size and maintain aspect ratio ", "zoom-fit-best", "proportional"},
    CommandInfo{ID_TILE, "Tile in Viewer", "Tile image in viewing area", nullptr, "tile"},
    CommandInfo{ID_ZOOM_IN, "Zoom In +", "Zoom in to the image\nZoom In", "zoom-in", "zoom-in"},
    CommandInfo{ID_ZOOM_OUT, "Zoom Out -", "Zoom out of the image\nZoom Out", "zoom-out", "zoom-out"},
    // Help menu
    CommandInfo{ID_HELP_CONTENTS, "Help Contents\tF1", "Help of Image Viewer\nHelp", "help-contents", "help"},
    CommandInfo{ID_APP_ABOUT, "&About Vantoro Image Viewer ...", "Display program information, version number and copyright\nAbout", nullptr, nullptr},
    // Context menu, toolbar and accelerator only
    CommandInfo{ID_ORIGINAL_SIZE, "", "", nullptr, nullptr},
    CommandInfo{ID_NEXT_IMAGE, "", "Show next image in file list \nShow next image", "go-next", "next"},
    CommandInfo{ID_PREVIOUS_IMAGE, "", "Show previous image in file list \nShow previous image", "go-previous", "previous"},
    CommandInfo{ID_STOP_SLIDE_SHOW, "", "Stop Slide Show \nStop Slide Show", "media-playback-stop", "stop"},
    CommandInfo{ID_FOLDER_PROPERTIES, "", "", nullptr, nullptr},
    CommandInfo{ID_EDIT_CUT, "", "Cut the selection and put it on the Clipboard\nCut", nullptr, nullptr},
    CommandInfo{ID_EDIT_UNDO, "", "Undo the last action\nUndo", nullptr, nullptr},
    CommandInfo{ID_NEXT_PANE, "", "Switch to the next window pane\nNext Pane", nullptr, nullptr},
    CommandInfo{ID_PREV_PANE, "", "Switch back to the previous window pane\nPrevious Pane", nullptr, nullptr},
};
// clang-format on

}  // namespace

std::span<const CommandInfo> AllCommands() { return kCommands; }

const CommandInfo* FindCommand(int id) {
    const auto found = std::find_if(kCommands.begin(), kCommands.end(), [id](const CommandInfo& c) { return c.id == id; });
    return found == kCommands.end() ? nullptr : &*found;
}

QString StatusPrompt(const CommandInfo& info) {
    return QString::fromLatin1(info.prompt).section(QLatin1Char('\n'), 0, 0);
}

QString ToolTipText(const CommandInfo& info) {
    const QString prompt = QString::fromLatin1(info.prompt);
    const int newline = prompt.indexOf(QLatin1Char('\n'));
    return newline < 0 ? prompt : prompt.mid(newline + 1);
}

QIcon CommandIcon(const CommandInfo& info) {
    const QIcon bundled = info.bundledIcon
                              ? QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(info.bundledIcon)))
                              : QIcon();
    if (!info.themeIcon) return bundled;
    return QIcon::fromTheme(QLatin1String(info.themeIcon), bundled);
}

std::span<const Accelerator> Accelerators() {
    static const std::vector<Accelerator> table = {
        {QKeySequence(Qt::CTRL | Qt::Key_C), ID_EDIT_COPY},
        {QKeySequence(Qt::CTRL | Qt::Key_X), ID_EDIT_CUT},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), ID_EDIT_UNDO},
        {QKeySequence(Qt::CTRL | Qt::Key_P), ID_FILE_PRINT},
        {QKeySequence(Qt::Key_F6), ID_NEXT_PANE},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), ID_PREV_PANE},
        {QKeySequence(Qt::CTRL | Qt::Key_R), ID_PROPORTIONAL_STRETCH},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ID_STRETCH_TO_FILL},
        {QKeySequence(Qt::Key_F1), ID_HELP_CONTENTS},
        {QKeySequence(Qt::Key_F5), ID_REFRESH},
        {QKeySequence(Qt::Key_P), ID_PAUSE_ANIMATION},
        {QKeySequence(Qt::CTRL | Qt::Key_O), ID_FILE_OPEN},
        {QKeySequence(Qt::Key_F11), ID_FULL_SCREEN},
        {QKeySequence(Qt::CTRL | Qt::Key_L), ID_ROTATE_LEFT},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), ID_ROTATE_RIGHT},
    };
    return table;
}
