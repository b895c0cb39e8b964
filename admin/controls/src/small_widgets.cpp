#include "controls/small_widgets.h"

#include <cstdint>
#include <limits>
#include <new>

IMPLEMENT_DYNAMIC(CColorStatic, CStatic)

CColorStatic::CColorStatic() : m_clrBack(::GetSysColor(COLOR_BTNFACE)) { m_brush.CreateSolidBrush(m_clrBack); }
CColorStatic::~CColorStatic() = default;  // the brush object deletes its brush

const mfc::MessageMap* CColorStatic::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnReflect<&CColorStatic::OnCtlColor>(WM_CTLCOLORSTATIC),
      mfc::OnReflect<&CColorStatic::OnCtlColor>(WM_CTLCOLORBTN),
      mfc::OnReflect<&CColorStatic::OnCtlColor>(WM_CTLCOLOREDIT),
  };
  static const mfc::MessageMap map{CStatic::GetMessageMap(), entries};
  return &map;
}

void CColorStatic::SetBkColor(COLORREF color) {
  m_clrBack = color;
  m_brush.DeleteObject();
  m_brush.CreateSolidBrush(color);
  if (m_hWnd) RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CColorStatic::SetTextColor(COLORREF color) {
  m_clrText = color;
  if (m_hWnd) RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

LRESULT CColorStatic::OnCtlColor(WPARAM wParam, LPARAM) {
  HDC hdc = reinterpret_cast<HDC>(wParam);
  ::SetBkColor(hdc, m_clrBack);
  ::SetTextColor(hdc, m_clrText);
  return reinterpret_cast<LRESULT>(m_brush.GetSafeHandle());
}

CUiFontSet::CUiFontSet() {
  for (int i = 0; i < 4; ++i) {
    m_fonts[i] = new CFont;
    m_fonts[i]->CreateFont(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0, i == 2 ? "Courier New" : nullptr);
  }
}

CUiFontSet::~CUiFontSet() {
  for (CFont*& font : m_fonts) {
    delete font;
    font = nullptr;
  }
}

CFont* CUiFontSet::GetFont(int index) const { return index >= 1 && index <= 4 ? m_fonts[index - 1] : nullptr; }

CCellBuffer::~CCellBuffer() { Free(); }

void CCellBuffer::Free() {
  delete[] m_pCells;
  m_pCells = nullptr;
  m_nRows = m_nCols = 0;
}

BOOL CCellBuffer::Alloc(int rows, int cols) {
  Free();
  if (rows < 0 || cols < 0) return FALSE;
  const uint64_t count = static_cast<uint64_t>(rows) * static_cast<uint64_t>(cols);
  if (count > std::numeric_limits<size_t>::max() / sizeof(void*) || count > (uint64_t{1} << 32)) return FALSE;
  if (count) {
    m_pCells = new (std::nothrow) void*[static_cast<size_t>(count)]();
    if (!m_pCells) return FALSE;
  }
  m_nRows = rows;
  m_nCols = cols;
  return TRUE;
}

void* CCellBuffer::GetCell(int row, int col) const {
  if (!m_pCells || row < 0 || col < 0 || row >= m_nRows || col >= m_nCols) return nullptr;
  return m_pCells[static_cast<size_t>(row) * static_cast<size_t>(m_nCols) + static_cast<size_t>(col)];
}

BOOL CCellBuffer::SetCell(int row, int col, void* value) {
  if (!m_pCells || row < 0 || col < 0 || row >= m_nRows || col >= m_nCols) return FALSE;
  m_pCells[static_cast<size_t>(row) * static_cast<size_t>(m_nCols) + static_cast<size_t>(col)] = value;
  return TRUE;
}

// ---- CColorHeaderCtrl, CHeaderListCtrl ----

#include "controls/shared_colors.h"

IMPLEMENT_DYNAMIC(CColorHeaderCtrl, CHeaderCtrl)
IMPLEMENT_DYNAMIC(CHeaderListCtrl, CListCtrl)

const mfc::MessageMap* CColorHeaderCtrl::GetMessageMap() const {
  static const mfc::MessageEntry entries[] = {
      mfc::OnMessage<&CColorHeaderCtrl::OnEraseBkgnd>(WM_ERASEBKGND),
      mfc::OnNotifyReflect<&CColorHeaderCtrl::OnCustomDraw>(NM_CUSTOMDRAW),
  };
  static const mfc::MessageMap map{CHeaderCtrl::GetMessageMap(), entries};
  return &map;
}

LRESULT CColorHeaderCtrl::OnEraseBkgnd(WPARAM wParam, LPARAM) {
  CRect client;
  GetClientRect(&client);
  HBRUSH brush = ::CreateSolidBrush(g_clrControlBack);
  ::FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
  ::DeleteObject(brush);
  return TRUE;
}

void CColorHeaderCtrl::OnCustomDraw(NMHDR* header, LRESULT* result) {
  auto* draw = reinterpret_cast<NMCUSTOMDRAW*>(header);
  switch (draw->dwDrawStage) {
    case CDDS_PREPAINT:
      *result = CDRF_NOTIFYITEMDRAW;
      break;
    case CDDS_ITEMPREPAINT:
      ::SetTextColor(draw->hdc, g_clrControlText);
      ::SetBkColor(draw->hdc, g_clrControlBack);
      *result = CDRF_NEWFONT;
      break;
    default:
      *result = CDRF_DODEFAULT;
      break;
  }
}

CHeaderListCtrl::~CHeaderListCtrl() {
  // The header window goes with the list; it must not outlive its object attached.
  if (m_header.GetSafeHwnd()) m_header.UnsubclassWindow();
}

void CHeaderListCtrl::PreSubclassWindow() {
  if (auto header = reinterpret_cast<HWND>(::SendMessage(m_hWnd, LVM_GETHEADER, 0, 0))) m_header.SubclassWindow(header);
  CListCtrl::PreSubclassWindow();
}
