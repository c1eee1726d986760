#pragma once
// Resource and command ids of Korvex.exe, shared by Korvex.rc and the window code.

#define IDI_KORVEX 1
#define IDB_LOGO 100
#define IDB_LOGO_2X 101

// Main menu MainMenu1.
#define IDM_UPDATEERZWINGEN2 1001
#define IDM_QUENLOR1 1002
#define IDM_BEENDEN2 1003
#define IDM_OPTIONEN1 1004
#define IDM_INSTALLIEREN1 1005
#define IDM_DEINSTALLIEREN1 1006
#define IDM_N3 1007

// Tray menu Popup.
#define IDM_PROGRAMMFFNEN1 1101
#define IDM_UPDATEERZWINGEN1 1102
#define IDM_EINSTELLUNGEN1 1103
#define IDM_KORVEXALSDIENSTINSTALLIEREN1 1104
#define IDM_KORVEXALSDIENSTENTFERNEN1 1105
#define IDM_INFO1 1106
#define IDM_BEENDEN1 1107
