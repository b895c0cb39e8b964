// What the panes and their dialogs share: the program's list look, the one-pixel relayout of the main
// window after a view switch, the pane background, the context-menu position and a few small services.
#pragma once
#include "admin/ServerPresenceEntry.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/comm/Discovery.h"
#include "controls/shaded_button.h"
#include "controls/small_widgets.h"
#include "mfc/gdi.h"

// The program's colours of panes and lists.
constexpr COLORREF kPaneBack = RGB(255, 255, 247);
constexpr COLORREF kListText = RGB(8, 16, 115);

// Grid lines and full-row select, the pane background behind rows and text, the list text colour, and a
// header that cannot be clicked in font 1 of the set.
void SetUpDataList(CListCtrl& list, const CUiFontSet& fonts);
// The dialogs' push-button look: "Courier New" bold at height -12, the shade (3, 8, 100, 5) of RGB(179, 174,
// 179), text in RGB(0, 0, 128), and the icon at the right (the pressed icon also when hot).
void SetUpDialogButton(CShadedButton& button, UINT icon, UINT pressedIcon);
// The main window grows by `toggle` pixels (in width, else in height; its place unchanged), is redrawn and
// `toggle` changes sign: the frame lays out every pane again.
void RelayoutMainWindow(int& toggle, bool width);
// Paints the whole client area in the pane background.
void FillPaneBackground(CWnd& pane);
// Where a context menu opens: the cursor position of the message, or for one from the keyboard (both
// coordinates -1) the pane's client origin moved by 5 and 5, in screen coordinates.
CPoint ContextMenuPoint(const CWnd& pane);
// The local time now in the form strftime knows.
CString NowText(const char* format);
// Whether the calling thread is the one of the window.
bool IsPaneThread(const CWnd& pane);
// A box of the main frame (which shows itself first), or of no owner without one.
int ShowMainFrameMessage(LPCSTR text, UINT type);
CString LoadStringText(UINT id);
// A server's state by the direction of its last request and the bits of its answer (the pending bit
// first); a departure answered with success reads "Unloading..." while the server cannot go yet.
CString ServerStateText(const ServerPresenceEntry& server, BOOL canGo = TRUE);
// Text of a number as "%d".
CString DecimalText(int value);
// The servers of a search as rows of number, model, MAC and address, and with `withStatus` "Locked" for a
// locked one; a server that answered twice in a row is listed once.
void ListDiscoveredServers(CListCtrl& list, const ServerDiscoveryList& servers, bool withStatus);

// The menu commands the views pass on to the document unchanged (device mapping, connect and disconnect,
// printer auto-connect and the Server Manager's): whether `id` is one, and the document told of it.
bool IsForwardedCommand(UINT id);
bool ForwardToDocument(CTavrinAdminDoc* doc, UINT id);
