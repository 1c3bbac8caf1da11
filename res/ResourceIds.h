#pragma once

#include <QString>

// Numeric ids of the application's templates and bitmaps. The bitmaps are compiled in as
// ":/bitmaps/<id>.png" (see BitmapPath); the generator in res/generator paints them.

// Dialog templates.
constexpr int IDD_MAIN = 102;
constexpr int IDD_SETTINGS = 139;
constexpr int IDD_AUDIO_FORMAT = 146;

// Window icon.
constexpr int IDR_MAINFRAME = 128;

// Clip list row icons, 20 x 20.
constexpr int IDB_ROW_AUDIO = 131;
constexpr int IDB_ROW_VIDEO = 132;
constexpr int IDB_ROW_VIDEO_AUDIO = 133;

// Command bar icons, 40 x 35, black is transparent.
constexpr int IDB_CMD_ADD_CLIP = 134;
constexpr int IDB_CMD_REMOVE_CLIP = 135;
constexpr int IDB_CMD_CONVERT = 136;
constexpr int IDB_CMD_STOP = 137;
constexpr int IDB_CMD_HELP = 138;
constexpr int IDB_CMD_EXIT = 142;
constexpr int IDB_CMD_HOME_PAGE = 143;
constexpr int IDB_CMD_SUPPORT = 159;

// Skin textures.
constexpr int IDB_CONTROL = 144;              // 58 x 46, control backgrounds
constexpr int IDB_MAIN_BACKGROUND = 147;      // 597 x 478
constexpr int IDB_SETTINGS_BACKGROUND = 151;  // 347 x 265
constexpr int IDB_AUDIO_BACKGROUND = 156;     // 205 x 265

// Button faces.
constexpr int IDB_BTN_EXIT = 148;              // 20 x 20
constexpr int IDB_BTN_MINIMIZE = 149;          // 20 x 20
constexpr int IDB_BTN_BROWSE = 150;            // 20 x 20
constexpr int IDB_BTN_MORE = 152;              // 20 x 20, "Properties" and "Change"
constexpr int IDB_BTN_START_CONVERSION = 154;  // 100 x 25
constexpr int IDB_BTN_OK = 157;                // 78 x 25
constexpr int IDB_BTN_CANCEL = 158;            // 78 x 25

// Resource path of a bitmap id, e.g. ":/bitmaps/147.png".
QString BitmapPath(int id);
