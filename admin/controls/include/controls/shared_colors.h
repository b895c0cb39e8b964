// Colours and flags shared by every coloured control and dialog of the administration program; read at
// each paint.
#pragma once
#include "win32/windows.h"

extern COLORREF g_clrWindowBack;
extern COLORREF g_clrControlBack;
extern COLORREF g_clrControlText;
// Drawing flags of every CColoredTabCtrl (written only by CColoredTabCtrl::EnableCustomDraw).
extern DWORD g_dwTabDrawFlags;
