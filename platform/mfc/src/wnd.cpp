#include "mfc/wnd.h"
#include "mfc/cmdui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "mfc/app.h"
#include "mfc/bars.h"
#include "mfc/doc.h"
#include "mfc/gdi.h"
#include "mfc/menu.h"
#include "object_internal.h"
#include "win32/window_manager.h"

IMPLEMENT_DYNCREATE(CWnd, CCmdTarget)
IMPLEMENT_DYNCREATE(CFrameWnd, CWnd)
IMPLEMENT_DYNAMIC(CView, CWnd)

namespace {
constexpr char kWindowClassName[] = "TavrinMfcWnd";
constexpr UINT_PTR kColorWindowBrush = 5 + 1;  // COLOR_WINDOW + 1

// The objects attached to windows, by handle (the process's handle map).
std::mutex g_mapLock;
std::map<HWND, CWnd*>& Permanent() {
  static auto* map = new std::map<HWND, CWnd*>;  // never destroyed: windows may outlive static destruction
  return *map;
}

// CWnd objects made by FromHandle for windows no object owns; they go with their window or thread.
thread_local std::map<HWND, std::unique_ptr<CWnd>> t_temporary;

// The object being created on this thread: it joins its window at the window's first message.
thread_local CWnd* t_creating = nullptr;
}  // namespace

const CWnd CWnd::wndTop(HWND_TOP);
const CWnd CWnd::wndBottom(HWND_BOTTOM);
const CWnd CWnd::wndTopMost(HWND_TOPMOST);
const CWnd CWnd::wndNoTopMost(HWND_NOTOPMOST);

// The procedure of every framework window.
LRESULT CALLBACK MfcWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
  if (!wnd && t_creating) {  // WM_NCCREATE (or a hook's message) arrives before CreateWindowObject returns
    wnd = t_creating;
    t_creating = nullptr;
    wnd->Attach(hWnd);
    wnd->PreSubclassWindow();
  }
  if (!wnd) return ::DefWindowProc(hWnd, message, wParam, lParam);
  // The object may delete itself in the handler (PostNcDestroy): nothing touches it afterwards.
  return wnd->WindowProc(message, wParam, lParam);
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  if (!hWnd) return nullptr;
  std::lock_guard guard(g_mapLock);
  auto it = Permanent().find(hWnd);
  return it == Permanent().end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (!hWnd) return nullptr;
  if (CWnd* wnd = FromHandlePermanent(hWnd)) return wnd;
  if (!IsWindow(hWnd)) return nullptr;
  std::erase_if(t_temporary, [](auto& entry) { return !IsWindow(entry.first); });
  auto& slot = t_temporary[hWnd];
  if (!slot) {
    slot = std::make_unique<CWnd>();
    slot->m_hWnd = hWnd;
    slot->temporary_ = true;
  }
  return slot.get();
}

CWnd::~CWnd() {
  if (marker_ || temporary_) return;  // neither owns its window
  if (m_hWnd) {
    HWND hWnd = m_hWnd;
    bool subclassed = m_pfnSuper != nullptr;
    Detach();
    if (!subclassed) ::DestroyWindow(hWnd);
  }
}

void CWnd::Attach(HWND hWnd) {
  m_hWnd = hWnd;
  std::lock_guard guard(g_mapLock);
  Permanent()[hWnd] = this;
}

void CWnd::Detach() {
  if (m_hWnd) {
    if (m_pfnSuper && IsWindow(m_hWnd)) SetWindowLongPtr(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    std::lock_guard guard(g_mapLock);
    auto it = Permanent().find(m_hWnd);
    if (it != Permanent().end() && it->second == this) Permanent().erase(it);
  }
  m_pfnSuper = nullptr;
  m_hWnd = nullptr;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                    HWND parent, UINT_PTR id, LPVOID param) {
  CREATESTRUCT cs{};
  cs.lpCreateParams = param;
  cs.hMenu = reinterpret_cast<HMENU>(id);
  cs.hwndParent = parent;
  cs.cy = height;
  cs.cx = width;
  cs.y = y;
  cs.x = x;
  cs.style = static_cast<LONG>(style);
  cs.lpszName = windowName;
  cs.lpszClass = requestedClass_ ? requestedClass_ : kWindowClassName;
  cs.dwExStyle = exStyle;
  requestedClass_ = nullptr;
  if (!PreCreateWindow(cs)) return FALSE;
  tavrin::win::WindowSpec spec;
  spec.className = kWindowClassName;
  spec.title = cs.lpszName ? cs.lpszName : "";
  spec.proc = MfcWindowProc;
  spec.classStyle = CS_DBLCLKS;
  spec.background = reinterpret_cast<HBRUSH>(kColorWindowBrush);
  spec.cursor = ::LoadCursor(nullptr, IDC_ARROW);
  // A registered class lends its name and looks; the messages stay the object's.
  if (WNDCLASS registered{}; cs.lpszClass && !IS_INTRESOURCE(cs.lpszClass) &&
                             strcmp(cs.lpszClass, kWindowClassName) != 0 &&
                             ::GetClassInfo(nullptr, cs.lpszClass, &registered)) {
    spec.className = cs.lpszClass;
    spec.classStyle = registered.style;
    spec.background = registered.hbrBackground;
    spec.cursor = registered.hCursor;
    spec.icon = registered.hIcon;
  }
  spec.style = static_cast<DWORD>(cs.style);
  spec.exStyle = cs.dwExStyle;
  spec.parent = cs.hwndParent;
  spec.id = reinterpret_cast<UINT_PTR>(cs.hMenu);
  spec.createParam = cs.lpCreateParams;
  spec.x = cs.x;
  spec.y = cs.y;
  spec.width = cs.cx;
  spec.height = cs.cy;
  CWnd* outer = t_creating;
  t_creating = this;
  HWND hWnd = tavrin::win::CreateWindowObject(spec);
  t_creating = outer;
  if (!hWnd) {
    if (m_hWnd) Detach();
    return FALSE;
  }
  if (!m_hWnd) Attach(hWnd);
  return TRUE;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, HMENU idOrMenu, LPVOID param) {
  requestedClass_ = className;
  const BOOL made = CreateEx(exStyle, windowName, style, x, y, width, height, parent,
                             reinterpret_cast<UINT_PTR>(idOrMenu), param);
  requestedClass_ = nullptr;
  return made;
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                    UINT id, LPVOID param) {
  return CreateEx(exStyle, className, windowName, style, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent ? parent->GetSafeHwnd() : nullptr,
                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), param);
}

LPCSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon) {
  static std::mutex lock;
  static auto* names = new std::map<std::string, std::string>;  // never destroyed: names are handed out
  char name[128];
  snprintf(name, sizeof name, "Afx:%x:%llx:%llx:%llx", classStyle,
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(cursor)),
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(background)),
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(icon)));
  std::lock_guard guard(lock);
  auto [it, added] = names->emplace(name, name);
  if (added) {
    WNDCLASS wc{};
    wc.style = classStyle;
    wc.lpfnWndProc = ::DefWindowProc;
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.hIcon = icon;
    wc.lpszClassName = it->second.c_str();
    WNDCLASS existing{};
    if (!::RegisterClass(&wc) && !::GetClassInfo(nullptr, wc.lpszClassName, &existing)) {
      names->erase(it);
      return nullptr;
    }
  }
  return it->second.c_str();
}

void CWnd::CenterWindow(CWnd* alternateOwner) {
  const bool child = (GetStyle() & WS_CHILD) != 0;
  HWND over = nullptr;
  if (child) {
    over = ::GetParent(m_hWnd);
  } else {
    over = alternateOwner ? alternateOwner->GetSafeHwnd() : ::GetWindow(m_hWnd, GW_OWNER);
    if (over && (!::IsWindowVisible(over) || ::IsIconic(over))) over = nullptr;
  }
  tavrin::win::CenterWindowOver(m_hWnd, over, child);
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
  if (!hWnd || !IsWindow(hWnd) || FromHandlePermanent(hWnd) || m_hWnd) return FALSE;
  Attach(hWnd);
  PreSubclassWindow();
  auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtr(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MfcWindowProc)));
  if (previous != &MfcWindowProc) m_pfnSuper = previous;
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  HWND item = parent ? ::GetDlgItem(parent->m_hWnd, static_cast<int>(id)) : nullptr;
  return item ? SubclassWindow(item) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
  HWND hWnd = m_hWnd;
  Detach();
  return hWnd;
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }
BOOL CWnd::ShowWindow(int cmdShow) { return ::ShowWindow(m_hWnd, cmdShow); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
void CWnd::SetWindowText(LPCSTR text) { ::SetWindowText(m_hWnd, text); }
void CWnd::SetFont(CFont* f, BOOL redraw) { ::SendMessage(m_hWnd, WM_SETFONT, f ? (WPARAM)(HFONT)*f : 0, redraw); }
HICON CWnd::SetIcon(HICON icon, BOOL big) {
  return reinterpret_cast<HICON>(::SendMessage(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}
HICON CWnd::GetIcon(BOOL big) const {
  return reinterpret_cast<HICON>(::SendMessage(m_hWnd, WM_GETICON, big ? ICON_BIG : ICON_SMALL, 0));
}

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

CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }

CFrameWnd* CWnd::GetParentFrame() const {
  for (CWnd* parent = GetParent(); parent; parent = parent->GetParent()) {
    if (parent->IsKindOf(RUNTIME_CLASS(CFrameWnd))) return static_cast<CFrameWnd*>(parent);
  }
  return nullptr;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }
BOOL CWnd::PreCreateWindow(CREATESTRUCT&) { return TRUE; }

namespace {

// The child control a message from it concerns, for reflection; null when it names none.
HWND ChildOfMessage(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      return reinterpret_cast<HWND>(lParam);
    case WM_NOTIFY:
      return lParam ? reinterpret_cast<const NMHDR*>(lParam)->hwndFrom : nullptr;
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      return item && item->CtlType != ODT_MENU ? item->hwndItem : nullptr;
    }
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam);
      return item && item->CtlType != ODT_MENU ? ::GetDlgItem(parent, static_cast<int>(item->CtlID)) : nullptr;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_HSCROLL:
    case WM_VSCROLL:
      return reinterpret_cast<HWND>(lParam);
    default:
      (void)wParam;
      return nullptr;
  }
}

}  // namespace

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  // While a wait runs the hourglass stays, whatever the window would show.
  if (message == WM_SETCURSOR && mfc::WaitCursorShown()) {
    ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    return TRUE;
  }
  // A control's own notifications go back to it first.
  if (message == WM_COMMAND || message == WM_NOTIFY) {
    HWND child = ChildOfMessage(m_hWnd, message, wParam, lParam);
    if (child && child != m_hWnd && ReflectToChild(child, message, wParam, lParam, &result)) return result;
  }
  if (message != WM_COMMAND) {
    if (const mfc::MessageEntry* entry = mfc::FindEntry(GetMessageMap(), message, 0)) {
      return entry->invoke(this, wParam, lParam);
    }
  }
  if (message != WM_COMMAND && message != WM_NOTIFY) {
    HWND child = ChildOfMessage(m_hWnd, message, wParam, lParam);
    if (child && child != m_hWnd && ReflectToChild(child, message, wParam, lParam, &result)) return result;
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
    case WM_INITMENUPOPUP:
      OnInitMenuPopup(CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      break;
    case WM_COMMAND:
      if (OnCommand(wParam, lParam)) return 0;
      break;
    case WM_DRAWITEM: {
      // Owner-drawn menu items are drawn by the menu's own object.
      auto* draw = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
      if (draw && draw->CtlType == ODT_MENU) {
        if (CMenu* menu = CMenu::FromHandlePermanent(reinterpret_cast<HMENU>(draw->hwndItem))) {
          menu->DrawItem(draw);
          return TRUE;
        }
      }
      break;
    }
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam);
      if (measure && measure->CtlType == ODT_MENU) {
        CMenu* owner = nullptr;
        if (CMenu::GetTrackingWindow() == m_hWnd)
          owner = CMenu::FindOwnerOfItem(CMenu::GetTrackingMenu(), measure->itemID, measure->itemData);
        if (!owner && ::GetMenu(m_hWnd))
          owner = CMenu::FindOwnerOfItem(::GetMenu(m_hWnd), measure->itemID, measure->itemData);
        if (owner) {
          owner->MeasureItem(measure);
          return TRUE;
        }
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return ::CallWindowProc(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProc(m_hWnd, message, wParam, lParam);
}

void CWnd::OnPaint() { DefWindowProc(WM_PAINT, 0, 0); }

BOOL CWnd::ReflectToChild(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  CWnd* wnd = FromHandlePermanent(child);
  return wnd ? wnd->OnChildNotify(message, wParam, lParam, result) : FALSE;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return ReflectChildNotify(message, wParam, lParam, result);
}

BOOL CWnd::ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  UINT id = 0;
  if (message == WM_COMMAND) id = HIWORD(wParam);
  else if (message == WM_NOTIFY) id = reinterpret_cast<const NMHDR*>(lParam)->code;
  const mfc::MessageEntry* entry = mfc::FindEntry(GetMessageMap(), mfc::kReflectBase + message, id);
  if (!entry) return FALSE;
  LRESULT value = entry->invoke(this, wParam, lParam);
  if (result) *result = value;
  return TRUE;
}

// Menu items, accelerators and clicks are commands of their id; a control's other notifications are
// keyed by id and code (mfc::OnControl), so that a command handler never runs for them.
BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  UINT id = LOWORD(wParam), code = HIWORD(wParam);
  bool command = code == 0 || (code == 1 && lParam == 0);
  return OnCmdMsg(command ? id : mfc::ControlKey(id, code));
}

int CWnd::OnCreate(LPCREATESTRUCT) { return 0; }
void CWnd::OnClose() { DestroyWindow(); }
void CWnd::OnDestroy() {}
void CWnd::OnTimer(UINT_PTR) {}
void CWnd::OnInitMenuPopup(CMenu*, UINT, BOOL) {}
void CWnd::OnSize(UINT, int, int) {}

void CWnd::OnNcDestroy() {
  if (m_pfnSuper) ::CallWindowProc(m_pfnSuper, m_hWnd, WM_NCDESTROY, 0, 0);  // the window's own last word
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
  return CreateFrame(0, title, style, RECT{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT},
                     parent ? parent->GetSafeHwnd() : nullptr, 0, context);
}

BOOL CFrameWnd::CreateFrame(DWORD exStyle, LPCSTR title, DWORD style, const RECT& rect, HWND parent,
                            UINT_PTR menuOrId, CCreateContext* context) {
  const bool defaults = rect.left == CW_USEDEFAULT;
  pendingContext_ = context;
  BOOL created = CreateEx(exStyle, title, style, rect.left, rect.top, defaults ? CW_USEDEFAULT : rect.right - rect.left,
                          defaults ? CW_USEDEFAULT : rect.bottom - rect.top, parent, menuOrId);
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
  auto* view = mfc::detail::CreateAs<CView>(context->m_pNewViewClass);
  if (!view) return nullptr;
  if (context->m_pCurrentDoc) context->m_pCurrentDoc->AddView(view);
  if (!view->CreateEx(WS_EX_CLIENTEDGE, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hWnd, id)) {
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
  RecalcLayout();
  if (makeVisible) ActivateFrame();
}

void CFrameWnd::OnSize(UINT type, int, int) {
  if (type != SIZE_MINIMIZED) RecalcLayout();
}

void CFrameWnd::RecalcLayout() {
  RECT client;
  GetClientRect(&client);
  mfc::RepositionBars(this, client);  // toolbars and status bars take their edges first
  if (!m_pViewActive || !m_pViewActive->m_hWnd) return;
  m_pViewActive->MoveWindow(&client);
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

void CView::OnPaint() {
  CPaintDC dc(this);
  OnDraw(&dc);
}

BOOL CFrameWnd::OnUpdateCommand(CCmdUI* ui) {
  if (m_pViewActive && m_pViewActive->OnUpdateCommand(ui)) return TRUE;
  if (CWnd::OnUpdateCommand(ui)) return TRUE;
  CWinApp* app = AfxGetApp();
  return app && app->OnUpdateCommand(ui);
}

BOOL CFrameWnd::HasCommandHandler(UINT id) {
  if (m_pViewActive && m_pViewActive->HasCommandHandler(id)) return TRUE;
  if (CWnd::HasCommandHandler(id)) return TRUE;
  CWinApp* app = AfxGetApp();
  return app && app->HasCommandHandler(id);
}

void CFrameWnd::OnInitMenuPopup(CMenu* popup, UINT, BOOL sysMenu) {
  if (sysMenu || !popup) return;
  AfxUpdateMenuPopup(this, popup, m_bAutoMenuEnable);
}

BOOL CView::OnUpdateCommand(CCmdUI* ui) {
  if (CWnd::OnUpdateCommand(ui)) return TRUE;
  return m_pDocument && m_pDocument->OnUpdateCommand(ui);
}

BOOL CView::HasCommandHandler(UINT id) {
  if (CWnd::HasCommandHandler(id)) return TRUE;
  return m_pDocument && m_pDocument->HasCommandHandler(id);
}

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

// --- geometry, painting, styles and input

CWnd* CWnd::GetTopLevelParent() const { return FromHandle(::GetAncestor(m_hWnd, GA_ROOT)); }
BOOL CWnd::IsChild(const CWnd* wnd) const { return wnd && ::IsChild(m_hWnd, wnd->m_hWnd); }
void CWnd::GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}
void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
  ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}
BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
}
void CWnd::ClientToScreen(LPPOINT point) const { ::ClientToScreen(m_hWnd, point); }
void CWnd::ClientToScreen(LPRECT rect) const { ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<LPPOINT>(rect), 2); }
void CWnd::ScreenToClient(LPPOINT point) const { ::ScreenToClient(m_hWnd, point); }
void CWnd::ScreenToClient(LPRECT rect) const { ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(rect), 2); }
void CWnd::MapWindowPoints(CWnd* to, LPPOINT points, UINT count) const {
  ::MapWindowPoints(m_hWnd, to ? to->m_hWnd : nullptr, points, count);
}
void CWnd::MapWindowPoints(CWnd* to, LPRECT rect) const {
  ::MapWindowPoints(m_hWnd, to ? to->m_hWnd : nullptr, reinterpret_cast<LPPOINT>(rect), 2);
}
CWnd* CWnd::ChildWindowFromPoint(POINT point) const { return FromHandle(::ChildWindowFromPoint(m_hWnd, point)); }

void CWnd::Invalidate(BOOL erase) { ::InvalidateRect(m_hWnd, nullptr, erase); }
void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) { ::InvalidateRect(m_hWnd, rect, erase); }
void CWnd::ValidateRect(LPCRECT rect) { ::ValidateRect(m_hWnd, rect); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
BOOL CWnd::RedrawWindow(LPCRECT rect, HRGN region, UINT flags) { return ::RedrawWindow(m_hWnd, rect, region, flags); }
CDC* CWnd::GetDC() {
  auto* dc = new CDC;
  dc->Attach(::GetDC(m_hWnd));
  return dc;
}

CDC* CWnd::GetWindowDC() {
  auto* dc = new CDC;
  dc->Attach(::GetWindowDC(m_hWnd));
  return dc;
}

int CWnd::ReleaseDC(CDC* dc) {
  if (!dc) return 0;
  int released = ::ReleaseDC(m_hWnd, dc->Detach());
  delete dc;
  return released;
}

void CWnd::SetRedraw(BOOL redraw) { ::SendMessage(m_hWnd, WM_SETREDRAW, redraw, 0); }

DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLongPtr(m_hWnd, GWL_STYLE)); }
DWORD CWnd::GetExStyle() const { return static_cast<DWORD>(::GetWindowLongPtr(m_hWnd, GWL_EXSTYLE)); }

namespace {
BOOL ModifyLong(HWND hWnd, int index, DWORD remove, DWORD add, UINT flags) {
  DWORD style = static_cast<DWORD>(::GetWindowLongPtr(hWnd, index));
  DWORD changed = (style & ~remove) | add;
  if (changed == style) return FALSE;
  ::SetWindowLongPtr(hWnd, index, static_cast<LONG_PTR>(changed));
  if (flags) ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
  return TRUE;
}
}  // namespace

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) { return ModifyLong(m_hWnd, GWL_STYLE, remove, add, flags); }
BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) {
  return ModifyLong(m_hWnd, GWL_EXSTYLE, remove, add, flags);
}
BOOL CWnd::ModifyStyle(HWND hWnd, DWORD remove, DWORD add, UINT flags) {
  return ModifyLong(hWnd, GWL_STYLE, remove, add, flags);
}
BOOL CWnd::ModifyStyleEx(HWND hWnd, DWORD remove, DWORD add, UINT flags) {
  return ModifyLong(hWnd, GWL_EXSTYLE, remove, add, flags);
}

BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }
CWnd* CWnd::SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }
CWnd* CWnd::GetCapture() { return FromHandle(::GetCapture()); }
CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
int CWnd::SetDlgCtrlID(int id) { return static_cast<int>(::SetWindowLongPtr(m_hWnd, GWLP_ID, id)); }
