#include "controls/shared_colors.h"

// A light blue-grey family: black text stays readable on it and on the selected tab face.
COLORREF g_clrWindowBack = 0x00F4EEEA;
COLORREF g_clrControlBack = 0x00E8DCD4;
COLORREF g_clrControlText = 0x00000000;
DWORD g_dwTabDrawFlags = 0;
