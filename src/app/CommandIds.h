#pragma once

// Resource and command ids of the program's windows; the command ids are the framework's
// standard ones, so menus, tool bar and accelerators agree on them.
enum ResourceId {
    IDD_ABOUTBOX = 100,
    IDR_MAINFRAME = 128,
    IDR_BULLETINTYPE = 129, // bulletin windows: menu and icon of their own
    IDR_LISTTYPE = 130,     // results windows: no menu of their own
};

enum CommandId {
    ID_FILE_EXPORT_PDF = 32771, // the program's own command: the bulletin as a PDF file
    // The program's own commands of the Laborator menu.
    ID_LAB_HEADER = 32780,
    ID_LAB_CHANGE = 32781,
    ID_LAB_NEW = 32782,
    ID_LAB_IMPORT_ACCESS = 32783,
    ID_LAB_ADD_JOURNAL = 32784,
    ID_LAB_SIGNATORIES = 32785,
    ID_LAB_BACKUP_NOW = 32786,
    ID_LAB_RESTORE = 32787,
    ID_LAB_SERVER_BACKUP = 32788,
    ID_LAB_UNMATCHED = 32789,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_MRU_FILE1 = 57616,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_WINDOW_NEW = 57648,
    ID_WINDOW_ARRANGE = 57649,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};
