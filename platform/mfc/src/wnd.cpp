#include "mfc/wnd.h"

#include "mfc/app.h"
#include "mfc/doc.h"

IMPLEMENT_DYNCREATE(CWnd, CCmdTarget)
IMPLEMENT_DYNCREATE(CFrameWnd, CWnd)
IMPLEMENT_DYNAMIC(CView, CWnd)

namespace {
constexpr char kWindowClassName[] = "TavrinMfcWnd";
}

// The procedure of every framework window: the object is kept in GWLP_USERDATA from the creation on.
LRESULT CALLBACK MfcWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
  if (!wnd) return ::DefWindowProc(hWnd, message, wParam, lParam);
  if (!wnd->m_hWnd) wnd->m_hWnd = hWnd;  // WM_CREATE arrives before CreateWindowObject returns
  // The object may delete itself in the handler (PostNcDestroy): nothing touches it afterwards.
  return wnd->WindowProc(message, wParam, lParam);
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  if (!hWnd || !IsWindow(hWnd)) return nullptr;
  char className[sizeof kWindowClassName + 1] = {};
  GetClassName(hWnd, className, sizeof className);
  if (std::string_view(className) != kWindowClassName) return nullptr;
  return reinterpret_cast<CWnd*>(GetWindowLongPtr(hWnd, GWLP_USERDATA));
}

CWnd::~CWnd() {
  if (m_hWnd) {
    HWND hWnd = m_hWnd;
    Detach();
    ::DestroyWindow(hWnd);
  }
}

void CWnd::Attach(HWND hWnd) { m_hWnd = hWnd; }

void CWnd::Detach() {
  if (m_hWnd && IsWindow(m_hWnd)) SetWindowLongPtr(m_hWnd, GWLP_USERDATA, 0);
  m_hWnd = nullptr;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR windowName, DWORD style, int, int, int, int, HWND parent, UINT_PTR id,
                    LPVOID param) {
  tavrin::win::WindowSpec spec;
  spec.className = kWindowClassName;
  spec.title = windowName ? windowName : "";
  spec.proc = MfcWindowProc;
  spec.userData = reinterpret_cast<LONG_PTR>(this);
  spec.style = style;
  spec.exStyle = exStyle;
  spec.parent = parent;
  spec.id = id;
  spec.createParam = param;
  HWND hWnd = tavrin::win::CreateWindowObject(spec);
  if (!hWnd) {
    m_hWnd = nullptr;
    return FALSE;
  }
  Attach(hWnd);
  return TRUE;
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }
BOOL CWnd::ShowWindow(int cmdShow) { return ::ShowWindow(m_hWnd, cmdShow); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
void CWnd::SetWindowText(LPCSTR text) { ::SetWindowText(m_hWnd, text); }

void CWnd::GetWindowText(CString& text) const {
  int length = ::GetWindowTextLength(m_hWnd);
  ::GetWindowText(m_hWnd, text.GetBuffer(length + 1), length + 1);
  text.ReleaseBuffer();
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessage(m_hWnd, message, wParam, lParam);
}
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessage(m_hWnd, message, wParam, lParam);
}
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC timerProc) {
  return ::SetTimer(m_hWnd, id, elapse, timerProc);
}
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

int CWnd::MessageBox(LPCSTR text, LPCSTR caption, UINT type) {
  if (!caption) caption = AfxGetApp() ? AfxGetApp()->m_pszAppName : "";
  return ::MessageBox(m_hWnd, text, caption, type);
}

CWnd* CWnd::GetParent() const { return FromHandlePermanent(::GetParent(m_hWnd)); }

CFrameWnd* CWnd::GetParentFrame() const {
  for (CWnd* parent = GetParent(); parent; parent = parent->GetParent()) {
    if (parent->IsKindOf(RUNTIME_CLASS(CFrameWnd))) return static_cast<CFrameWnd*>(parent);
  }
  return nullptr;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COMMAND) {
    if (const mfc::MessageEntry* entry = mfc::FindEntry(GetMessageMap(), message, 0)) {
      return entry->invoke(this, wParam, lParam);
    }
  }
  switch (message) {
    case WM_CREATE:
      return OnCreate(reinterpret_cast<LPCREATESTRUCT>(lParam));
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_NCDESTROY:
      OnNcDestroy();
      return 0;
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_COMMAND:
      if (OnCommand(wParam, lParam)) return 0;
      break;
    default:
      break;
  }
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProc(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) { return OnCmdMsg(static_cast<UINT>(wParam & 0xFFFF)); }

int CWnd::OnCreate(LPCREATESTRUCT) { return 0; }
void CWnd::OnClose() { DestroyWindow(); }
void CWnd::OnDestroy() {}
void CWnd::OnTimer(UINT_PTR) {}

void CWnd::OnNcDestroy() {
  CWinThread* thread = AfxGetThread();
  if (thread && thread->m_pMainWnd == this) {
    thread->m_pMainWnd = nullptr;
    PostQuitMessage(0);
  }
  Detach();
  PostNcDestroy();
}

// --- CFrameWnd

BOOL CFrameWnd::LoadFrame(UINT idResource, DWORD style, CWnd* parent, CCreateContext* context) {
  CString title;
  if (const char* text = mfc::FindString(idResource)) {
    title = text;
    int end = title.Find('\n');
    if (end >= 0) title = title.Left(end);
  }
  pendingContext_ = context;
  BOOL created = CreateEx(0, title, style, 0, 0, 0, 0, parent ? parent->GetSafeHwnd() : nullptr, 0);
  pendingContext_ = nullptr;
  return created;
}

int CFrameWnd::OnCreate(LPCREATESTRUCT createStruct) {
  if (CWnd::OnCreate(createStruct) == -1) return -1;
  return OnCreateClient(createStruct, pendingContext_) ? 0 : -1;
}

BOOL CFrameWnd::OnCreateClient(LPCREATESTRUCT, CCreateContext* context) {
  if (!context || !context->m_pNewViewClass) return TRUE;
  return CreateView(context) != nullptr;
}

CView* CFrameWnd::CreateView(CCreateContext* context, UINT id) {
  CObject* object = context->m_pNewViewClass->CreateObject();
  auto* view = dynamic_cast<CView*>(object);
  if (!view) {
    delete object;
    return nullptr;
  }
  if (context->m_pCurrentDoc) context->m_pCurrentDoc->AddView(view);
  if (!view->CreateEx(0, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hWnd, id)) {
    delete view;  // not a window yet: the view deletes itself only after its window is gone
    return nullptr;
  }
  return view;
}

CDocument* CFrameWnd::GetActiveDocument() const {
  return m_pViewActive ? m_pViewActive->GetDocument() : nullptr;
}

void CFrameWnd::InitialUpdateFrame(CDocument* doc, BOOL makeVisible) {
  if (!m_pViewActive && doc) {
    POSITION position = doc->GetFirstViewPosition();
    while (position) {
      CView* view = doc->GetNextView(position);
      if (view->GetParentFrame() == this) {
        m_pViewActive = view;
        break;
      }
    }
  }
  if (doc) {
    POSITION position = doc->GetFirstViewPosition();
    while (position) {
      CView* view = doc->GetNextView(position);
      if (view->GetParentFrame() == this) view->OnInitialUpdate();
    }
  }
  if (makeVisible) ActivateFrame();
}

void CFrameWnd::ActivateFrame(int cmdShow) {
  if (cmdShow == -1) {
    CWinApp* app = AfxGetApp();
    cmdShow = app ? app->m_nCmdShow : SW_SHOWNORMAL;
  }
  ShowWindow(cmdShow);
}

BOOL CFrameWnd::OnCmdMsg(UINT id) {
  if (m_pViewActive && m_pViewActive->OnCmdMsg(id)) return TRUE;
  if (CWnd::OnCmdMsg(id)) return TRUE;
  CWinApp* app = AfxGetApp();
  return app && app->OnCmdMsg(id);
}

void CFrameWnd::OnClose() {
  CWinApp* app = AfxGetApp();
  if (app && app->m_pMainWnd == this) {
    HWND hWnd = m_hWnd;
    app->CloseAllDocuments(FALSE);  // destroys this frame with the documents' views (and may delete it)
    if (IsWindow(hWnd)) ::DestroyWindow(hWnd);
    return;
  }
  if (CDocument* doc = GetActiveDocument()) {
    doc->OnCloseDocument();
    return;
  }
  DestroyWindow();
}

// --- CView

CView::~CView() {
  if (m_pDocument) m_pDocument->RemoveView(this);
}

void CView::OnUpdate(CView*, LPARAM, CObject*) {}

BOOL CView::OnCmdMsg(UINT id) {
  if (CWnd::OnCmdMsg(id)) return TRUE;
  return m_pDocument && m_pDocument->OnCmdMsg(id);
}

void CView::OnDestroy() {
  CFrameWnd* frame = GetParentFrame();
  if (frame && frame->GetActiveView() == this) frame->SetActiveView(nullptr);
  if (m_pDocument) m_pDocument->RemoveView(this);
  CWnd::OnDestroy();
}
