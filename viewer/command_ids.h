#pragma once

// Every command of the viewer by its numeric id. Menus, accelerators, toolbar buttons and
// context menus all send these ids; the values are stable because saved layouts and tests
// refer to them.
enum CommandId : int {
    ID_LIST_BY_NAMES = 111,
    ID_THUMBNAILS = 112,
    ID_STRETCH_TO_FILL = 103,

    ID_PROPORTIONAL_STRETCH = 32772,
    ID_SLIDE_SHOW = 32773,
    ID_DELAY_1 = 32774,
    ID_DELAY_2 = 32775,
    ID_DELAY_5 = 32776,
    ID_DELAY_10 = 32777,
    ID_DELAY_15 = 32778,
    ID_DELAY_20 = 32779,
    ID_DELAY_30 = 32780,
    ID_FILE_LIST_BAR = 32781,
    ID_DIRECTORY_TREE_BAR = 32782,
    ID_NEXT_IMAGE = 32792,
    ID_DELETE_FILE = 32796,
    ID_PREVIOUS_IMAGE = 32802,
    ID_STOP_SLIDE_SHOW = 32803,
    ID_ORIGINAL_SIZE = 32805,
    ID_DEFAULT_BARS = 32806,
    ID_ZOOM_IN = 32813,
    ID_ZOOM_OUT = 32814,
    ID_FILE_PROPERTIES = 32817,
    ID_FOLDER_PROPERTIES = 32820,
    ID_WALLPAPER_CENTERED = 32822,
    ID_WALLPAPER_TILED = 32823,
    ID_WALLPAPER_STRETCHED = 32824,
    ID_TILE = 32826,
    ID_SLIDE_SHOW_FULL_SCREEN = 32829,
    ID_WALLPAPER_PROPORTIONAL = 32831,
    ID_COLOUR_MANAGEMENT = 32832,
    ID_REFRESH = 32833,
    ID_PAUSE_ANIMATION = 32834,
    ID_FULL_SCREEN = 32835,
    ID_ROTATE_LEFT = 32836,
    ID_ROTATE_RIGHT = 32837,
    ID_FLIP_HORIZONTALLY = 32838,
    ID_FLIP_VERTICALLY = 32839,
    ID_TRANSPARENCY_CHECKERBOARD = 32840,
    ID_TRANSPARENCY_BACKGROUND = 32841,
    ID_SHOW_HIDDEN_FILES = 32842,
    ID_CLEAR_RECENT_FILES = 32843,
    ID_FIRST_IMAGE = 32844,
    ID_LAST_IMAGE = 32845,

    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_DIRECT = 57608,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_SEND_MAIL = 57612,
    // The recent files of File > Open Recent, the most recent first.
    ID_FILE_MRU_FIRST = 57616,
    ID_FILE_MRU_LAST = 57631,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_UNDO = 57643,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_CONTENTS = 57666,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,

    // The toolbar and status bar toggles share their ids with the bars themselves.
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,

    ID_PREVIEW_CLOSE = 61445,
};

// Control ids of the frame's bars (the sizing bars' ids also name their settings sections).
enum BarId : int {
    IDW_TOOLBAR = 59392,
    IDW_STATUS_BAR = 59393,
    IDW_DIRECTORY_BAR = 59424,
    IDW_FILE_LIST_BAR = 59425,
};

// The image view's context menu.
constexpr int IDR_IMAGE_CONTEXT_MENU = 155;
