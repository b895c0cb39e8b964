// Windows as C++ objects: CWnd wraps one HWND of the platform layer. Windows made by CreateEx share one
// window class; a window made elsewhere joins through SubclassWindow. Either way the procedure finds the
// object by handle and calls CWnd::WindowProc, which runs, in order:
//   1. reflection of a control's WM_COMMAND or WM_NOTIFY back to the control (OnChildNotify);
//   2. the class's message map (GetMessageMap, see cmdtarget.h) for any message but WM_COMMAND;
//   3. reflection of WM_DRAWITEM, WM_MEASUREITEM, WM_CTLCOLOR* and scroll messages to the control;
//   4. the virtual handlers of the framework messages (OnCreate, OnClose, OnDestroy, OnTimer, OnPaint,
//      OnCommand -> OnCmdMsg command routing);
//   5. DefWindowProc (the subclassed window's own procedure, if any).
// A derived window adds entries to its message map or overrides the virtual handlers; a control handles
// what its parent reflects with mfc::OnReflect / OnControlReflect / OnNotifyReflect entries.
#pragma once
#include "mfc/cmdtarget.h"
#include "mfc/string.h"
#include "win32/windows.h"

class CDC;  // drawing surface, supplied by the drawing layer
class CDocument;
class CDocTemplate;
class CFrameWnd;
class CMenu;
class CView;

// What a frame needs to build its view: passed through LoadFrame to OnCreateClient.
struct CCreateContext {
  const CRuntimeClass* m_pNewViewClass = nullptr;
  CDocument* m_pCurrentDoc = nullptr;
  CDocTemplate* m_pNewDocTemplate = nullptr;
};

// Frame styles (the low word of a frame's style).
constexpr DWORD FWS_ADDTOTITLE = 0x00008000;

class CWnd : public CCmdTarget {
  DECLARE_DYNCREATE(CWnd)

 public:
  CWnd() = default;
  ~CWnd() override;  // destroys the window if it still exists
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }
  // The object attached to a window (created through CWnd or subclassed), or null.
  static CWnd* FromHandlePermanent(HWND hWnd);
  // The attached object, or a temporary one of this thread that lasts until the window goes.
  static CWnd* FromHandle(HWND hWnd);

  // Insert-after markers of SetWindowPos.
  static const CWnd wndTop;
  static const CWnd wndBottom;
  static const CWnd wndTopMost;
  static const CWnd wndNoTopMost;

  // Attaches this object to an existing window and routes its messages through WindowProc; the
  // window's own procedure becomes this object's DefWindowProc.
  BOOL SubclassWindow(HWND hWnd);
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  HWND UnsubclassWindow();

  // Creates the window as an object of the framework's window class. FALSE when the platform refuses or
  // OnCreate returns -1.
  virtual BOOL CreateEx(DWORD exStyle, LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                        HWND parent, UINT_PTR id, LPVOID param = nullptr);
  // The same as a window of a registered class (AfxRegisterWndClass's, or any other): the class gives
  // its style, background, cursor and icon; the object still handles the messages.
  BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                int height, HWND parent, HMENU idOrMenu, LPVOID param = nullptr);
  BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                UINT id, LPVOID param = nullptr);
  // Called by CreateEx before the window is made: the override may change what is asked (styles,
  // place, size); FALSE refuses the creation.
  virtual BOOL DestroyWindow();

  BOOL ShowWindow(int cmdShow);
  BOOL IsWindowVisible() const;
  BOOL IsIconic() const;
  void SetWindowText(LPCSTR text);
  void SetFont(class CFont* f, BOOL redraw = TRUE);
  // The window's big or small icon (WM_SETICON); the previous one.
  HICON SetIcon(HICON icon, BOOL big);
  HICON GetIcon(BOOL big) const;
  void GetWindowText(CString& text) const;
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC timerProc = nullptr);
  BOOL KillTimer(UINT_PTR id);
  int MessageBox(LPCSTR text, LPCSTR caption = nullptr, UINT type = MB_OK);
  CWnd* GetParent() const;
  // The nearest frame window among the parents (not this window itself).
  CFrameWnd* GetParentFrame() const;
  CWnd* GetTopLevelParent() const;
  BOOL IsChild(const CWnd* wnd) const;

  // Geometry.
  void GetWindowRect(LPRECT rect) const;
  void GetClientRect(LPRECT rect) const;
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
  BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
  void ClientToScreen(LPPOINT point) const;
  void ClientToScreen(LPRECT rect) const;
  void ScreenToClient(LPPOINT point) const;
  void ScreenToClient(LPRECT rect) const;
  void MapWindowPoints(CWnd* to, LPPOINT points, UINT count) const;
  void MapWindowPoints(CWnd* to, LPRECT rect) const;
  CWnd* ChildWindowFromPoint(POINT point) const;
  // A child in the middle of its parent's client area; a top-level window over `alternateOwner`, else its
  // owner, when that is visible and not minimised, else in the middle of the screen; kept on the screen.
  void CenterWindow(CWnd* alternateOwner = nullptr);

  // Painting.
  void Invalidate(BOOL erase = TRUE);
  void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
  void ValidateRect(LPCRECT rect);
  void UpdateWindow();
  BOOL RedrawWindow(LPCRECT rect = nullptr, HRGN region = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  void SetRedraw(BOOL redraw = TRUE);
  // DCs of the client area and of the whole window, each an object of its own until ReleaseDC.
  CDC* GetDC();
  CDC* GetWindowDC();
  int ReleaseDC(CDC* dc);

  // Styles: ModifyStyle(Ex) returns FALSE when nothing changes; with flags, SetWindowPos follows
  // (SWP_FRAMECHANGED among them recomputes the frame).
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
  static BOOL ModifyStyle(HWND hWnd, DWORD remove, DWORD add, UINT flags);
  static BOOL ModifyStyleEx(HWND hWnd, DWORD remove, DWORD add, UINT flags);

  // State and input.
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  CWnd* SetFocus();
  static CWnd* GetFocus();
  CWnd* SetCapture();
  static CWnd* GetCapture();
  CWnd* GetDlgItem(int id) const;
  int GetDlgCtrlID() const;
  int SetDlgCtrlID(int id);
  BOOL SetProp(LPCSTR name, HANDLE data) { return ::SetProp(m_hWnd, name, data); }
  HANDLE GetProp(LPCSTR name) const { return ::GetProp(m_hWnd, name); }
  HANDLE RemoveProp(LPCSTR name) { return ::RemoveProp(m_hWnd, name); }

  // Called by the message loop before the message is dispatched; TRUE when the message was used.
  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Before a window joins its object (creation or SubclassWindow).
  virtual void PreSubclassWindow() {}
  // A message the parent reflected to this control; TRUE (with the result) when handled here.
  virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Runs the reflected-message entries of this object's map.
  BOOL ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Sends a message on to the child control it concerns; TRUE when the child took it.
  static BOOL ReflectToChild(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // WM_PAINT without a message-map entry: validates (views draw through OnDraw).
  virtual void OnPaint();
  // WM_COMMAND: routes the command id through OnCmdMsg; TRUE when some target took it.
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual int OnCreate(LPCREATESTRUCT createStruct);
  virtual void OnClose();
  virtual void OnDestroy();
  virtual void OnTimer(UINT_PTR id);
  // WM_INITMENUPOPUP: a popup of this window is about to show (nothing by default).
  virtual void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu);
  // WM_SIZE: the new client size.
  virtual void OnSize(UINT type, int cx, int cy);
  // Last message of a window: detaches the object; ends the program's message loop when this was the
  // application's main window; then PostNcDestroy.
  virtual void OnNcDestroy();
  // After the window is gone; frames and views delete themselves here.
  virtual void PostNcDestroy() {}

 private:
  friend LRESULT CALLBACK MfcWindowProc(HWND, UINT, WPARAM, LPARAM);
  explicit CWnd(HWND marker) : m_hWnd(marker), marker_(true) {}
  void Attach(HWND hWnd);
  void Detach();
  // The procedure the window had before SubclassWindow.
  WNDPROC m_pfnSuper = nullptr;
  LPCSTR requestedClass_ = nullptr;  // the class CreateEx was asked for, until it runs
  bool marker_ = false;
  bool temporary_ = false;
};

// Registers (once per distinct set of values) a window class for CWnd::CreateEx and returns its name,
// which stays valid for the life of the process.
LPCSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                           HICON icon = nullptr);

class CView;
class CControlBar;

class CFrameWnd : public CWnd {
  DECLARE_DYNCREATE(CFrameWnd)

 public:
  // Creates the frame; its title is the first part of the template string idResource (or empty).
  virtual BOOL LoadFrame(UINT idResource, DWORD style = WS_OVERLAPPEDWINDOW, CWnd* parent = nullptr,
                         CCreateContext* context = nullptr);
  CView* GetActiveView() const { return m_pViewActive; }
  void SetActiveView(CView* view) { m_pViewActive = view; }
  CDocument* GetActiveDocument() const;
  // Sends the initial update to the frame's views and shows the frame (with the application's show
  // command when makeVisible).
  virtual void InitialUpdateFrame(CDocument* doc, BOOL makeVisible);
  virtual void ActivateFrame(int cmdShow = -1);
  // Places the frame's children in its client area: by default the active view fills it.
  virtual void RecalcLayout();

  // Docking: a dock bar (mfc/dockbar.h) along each side the style names (CBRS_ALIGN_*), and floating bars in
  // frames of m_pFloatingFrameClass (CMiniDockFrameWnd, mfc/frames.h).
  void EnableDocking(DWORD dockStyle);
  // The bar goes into the dock bar of the id, or of the first side both it and the frame allow (top,
  // bottom, left, right); a floating frame it leaves goes.
  void DockControlBar(CControlBar* bar, UINT dockBarId = 0);
  // The bar goes into a new floating frame at the screen point.
  void FloatControlBar(CControlBar* bar, POINT point);
  const CRuntimeClass* m_pFloatingFrameClass = nullptr;

  // Commands go to the active view (and its document), then the frame itself, then the application.
  BOOL OnCmdMsg(UINT id) override;
  BOOL OnUpdateCommand(CCmdUI* ui) override;
  BOOL HasCommandHandler(UINT id) override;

  // Menu items whose command nobody handles are disabled when their popup opens.
  BOOL m_bAutoMenuEnable = TRUE;

 protected:
  int OnCreate(LPCREATESTRUCT createStruct) override;
  // Builds the client area: by default the view of the context.
  virtual BOOL OnCreateClient(LPCREATESTRUCT createStruct, CCreateContext* context);
  CView* CreateView(CCreateContext* context, UINT id = 0xE900);
  // Creates the window with the context for OnCreateClient (`menuOrId`: a top-level window's menu, a child's
  // id).
  BOOL CreateFrame(DWORD exStyle, LPCSTR title, DWORD style, const RECT& rect, HWND parent, UINT_PTR menuOrId,
                   CCreateContext* context);
  // The main frame closes the documents (which destroys it); any other frame destroys itself.
  void OnClose() override;
  void OnSize(UINT type, int cx, int cy) override;
  // Runs the command update pass over the popup (not over the system menu).
  void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu) override;
  void PostNcDestroy() override { delete this; }

  CView* m_pViewActive = nullptr;

 private:
  CCreateContext* pendingContext_ = nullptr;
};

class CView : public CWnd {
  DECLARE_DYNAMIC(CView)

 public:
  ~CView() override;
  CDocument* GetDocument() const { return m_pDocument; }

  virtual void OnInitialUpdate() { OnUpdate(nullptr, 0, nullptr); }
  virtual void OnUpdate(CView* sender, LPARAM hint, CObject* hintObject);
  virtual void OnDraw(CDC* dc) = 0;
  // WM_PAINT: OnDraw on a paint DC.
  // Takes the document's commands after the view's own.
  BOOL OnCmdMsg(UINT id) override;
  BOOL OnUpdateCommand(CCmdUI* ui) override;
  BOOL HasCommandHandler(UINT id) override;

 protected:
  void OnDestroy() override;
  void OnPaint() override;
  void PostNcDestroy() override { delete this; }

  CDocument* m_pDocument = nullptr;

 private:
  friend class CDocument;
};
