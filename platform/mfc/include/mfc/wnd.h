// Windows as C++ objects: CWnd wraps one HWND of the platform layer. All CWnd windows share one window
// class whose procedure finds the object by handle and calls CWnd::WindowProc, which runs, in order:
//   1. the class's message map (GetMessageMap, see cmdtarget.h) for any message but WM_COMMAND;
//   2. the virtual handlers of the framework messages (OnCreate, OnClose, OnDestroy, OnTimer,
//      OnCommand -> OnCmdMsg command routing);
//   3. DefWindowProc.
// A derived window adds entries to its message map or overrides the virtual handlers.
#pragma once
#include "mfc/cmdtarget.h"
#include "mfc/string.h"
#include "win32/windows.h"

class CDC;  // drawing surface, supplied by the drawing layer
class CDocument;
class CDocTemplate;
class CFrameWnd;
class CView;

// What a frame needs to build its view: passed through LoadFrame to OnCreateClient.
struct CCreateContext {
  const CRuntimeClass* m_pNewViewClass = nullptr;
  CDocument* m_pCurrentDoc = nullptr;
  CDocTemplate* m_pNewDocTemplate = nullptr;
};

class CWnd : public CCmdTarget {
  DECLARE_DYNCREATE(CWnd)

 public:
  CWnd() = default;
  ~CWnd() override;  // destroys the window if it still exists
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const { return m_hWnd; }
  // The object of a window created through CWnd, or null for any other window.
  static CWnd* FromHandlePermanent(HWND hWnd);

  // Creates the window as an object of the framework's window class. FALSE when the platform refuses or
  // OnCreate returns -1.
  virtual BOOL CreateEx(DWORD exStyle, LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                        HWND parent, UINT_PTR id, LPVOID param = nullptr);
  virtual BOOL DestroyWindow();

  BOOL ShowWindow(int cmdShow);
  BOOL IsWindowVisible() const;
  BOOL IsIconic() const;
  void SetWindowText(LPCSTR text);
  void GetWindowText(CString& text) const;
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC timerProc = nullptr);
  BOOL KillTimer(UINT_PTR id);
  int MessageBox(LPCSTR text, LPCSTR caption = nullptr, UINT type = MB_OK);
  CWnd* GetParent() const;
  // The nearest frame window among the parents (not this window itself).
  CFrameWnd* GetParentFrame() const;

  // Called by the message loop before the message is dispatched; TRUE when the message was used.
  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // WM_COMMAND: routes the command id through OnCmdMsg; TRUE when some target took it.
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual int OnCreate(LPCREATESTRUCT createStruct);
  virtual void OnClose();
  virtual void OnDestroy();
  virtual void OnTimer(UINT_PTR id);
  // Last message of a window: detaches the object; ends the program's message loop when this was the
  // application's main window; then PostNcDestroy.
  virtual void OnNcDestroy();
  // After the window is gone; frames and views delete themselves here.
  virtual void PostNcDestroy() {}

 private:
  friend LRESULT CALLBACK MfcWindowProc(HWND, UINT, WPARAM, LPARAM);
  void Attach(HWND hWnd);
  void Detach();
};

class CView;

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

  // Commands go to the active view (and its document), then the frame itself, then the application.
  BOOL OnCmdMsg(UINT id) override;

 protected:
  int OnCreate(LPCREATESTRUCT createStruct) override;
  // Builds the client area: by default the view of the context.
  virtual BOOL OnCreateClient(LPCREATESTRUCT createStruct, CCreateContext* context);
  CView* CreateView(CCreateContext* context, UINT id = 0xE900);
  // The main frame closes the documents (which destroys it); any other frame destroys itself.
  void OnClose() override;
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
  // Takes the document's commands after the view's own.
  BOOL OnCmdMsg(UINT id) override;

 protected:
  void OnDestroy() override;
  void PostNcDestroy() override { delete this; }

  CDocument* m_pDocument = nullptr;

 private:
  friend class CDocument;
};
