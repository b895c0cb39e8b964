// The one look of the Server Manager's dialogs: shaded buttons in bold "Courier New" and the data lists
// with grid lines on a pale background.
#pragma once
#include <initializer_list>

#include "controls/shaded_button.h"
#include "controls/small_widgets.h"

struct ListColumn {
  LPCSTR heading;
  int width;
  int format = LVCFMT_CENTER;
};

// Binds the button to the dialog's control and gives it the shade, the text colour, the font of the given
// height and the icon pair (normal, hot) with its alignment.
void StyleDialogButton(CShadedButton& button, CWnd* dialog, UINT id, LONG fontHeight, UINT iconId, UINT hotIconId,
                       UINT align);
// Binds the list to the dialog's control: background RGB(255, 255, 247), grid lines, full-row select, a
// header that cannot be clicked in the set's bold font, and the columns (centred unless they say otherwise).
void SetUpDataList(CHeaderListCtrl& list, CWnd* dialog, UINT id, const CUiFontSet& fonts,
                   std::initializer_list<ListColumn> columns);
