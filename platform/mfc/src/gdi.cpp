#include "mfc/gdi.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "mfc/wnd.h"
#include "win32/resources.h"

// Temporary wrappers, per thread: one object per handle, dropped once the handle is gone.
struct TempMaps {
  std::map<HGDIOBJ, std::unique_ptr<CGdiObject>> objects;
  std::map<HDC, std::unique_ptr<CDC>> dcs;

  static TempMaps& Get() {
    thread_local TempMaps maps;
    return maps;
  }
  template <class Map>
  static void Prune(Map& map) {
    if (map.size() < 64) return;
    for (auto it = map.begin(); it != map.end();) {
      if (GetObjectType(it->first) == 0) it = map.erase(it);
      else ++it;
    }
  }
  template <class T>
  T* Object(HGDIOBJ handle) {
    if (!handle) return nullptr;
    Prune(objects);
    auto& slot = objects[handle];
    if (!slot || !dynamic_cast<T*>(slot.get())) {
      auto o = std::make_unique<T>();
      o->m_hObject = handle;
      o->temporary_ = true;
      slot = std::move(o);
    }
    return static_cast<T*>(slot.get());
  }
  CDC* Dc(HDC hdc) {
    if (!hdc) return nullptr;
    Prune(dcs);
    auto& slot = dcs[hdc];
    if (!slot) {
      slot = std::make_unique<CDC>();
      slot->m_hDC = slot->m_hAttribDC = hdc;
      slot->temporary_ = true;
    }
    return slot.get();
  }
};

// --- CGdiObject and kinds ---

CGdiObject::~CGdiObject() {
  if (!temporary_) DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ object) {
  if (!object) return FALSE;
  if (m_hObject && !temporary_) DeleteObject();
  m_hObject = object;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ h = m_hObject;
  m_hObject = nullptr;
  return h;
}

BOOL CGdiObject::DeleteObject() {
  if (!m_hObject) return FALSE;
  if (!::DeleteObject(m_hObject)) return FALSE;
  m_hObject = nullptr;
  return TRUE;
}

BOOL CGdiObject::CreateStockObject(int index) {
  HGDIOBJ o = ::GetStockObject(index);
  if (!o) return FALSE;
  m_hObject = o;  // deleting a stock object does nothing
  return TRUE;
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ object) { return TempMaps::Get().Object<CGdiObject>(object); }
CPen* CPen::FromHandle(HPEN pen) { return TempMaps::Get().Object<CPen>(pen); }
CBrush* CBrush::FromHandle(HBRUSH brush) { return TempMaps::Get().Object<CBrush>(brush); }
CFont* CFont::FromHandle(HFONT font) { return TempMaps::Get().Object<CFont>(font); }
CBitmap* CBitmap::FromHandle(HBITMAP bitmap) { return TempMaps::Get().Object<CBitmap>(bitmap); }
CRgn* CRgn::FromHandle(HRGN region) { return TempMaps::Get().Object<CRgn>(region); }

CBrush::CBrush(CBitmap* bitmap) { CreatePatternBrush(bitmap); }

BOOL CBrush::CreatePatternBrush(CBitmap* bitmap) {
  return bitmap && Attach(::CreatePatternBrush(static_cast<HBITMAP>(bitmap->m_hObject)));
}

BOOL CFont::CreatePointFontIndirect(const LOGFONT* font, CDC* dc) {
  if (!font) return FALSE;
  LOGFONT lf = *font;
  HDC hdc = dc ? dc->m_hDC : ::GetDC(nullptr);
  int dpi = ::GetDeviceCaps(hdc, LOGPIXELSY);
  if (!dc) ::ReleaseDC(nullptr, hdc);
  // lfHeight holds tenths of a point here.
  lf.lfHeight = -std::abs(::MulDiv(font->lfHeight, dpi, 720));
  return CreateFontIndirect(&lf);
}

BOOL CFont::CreatePointFont(int pointSize, LPCSTR face, CDC* dc) {
  LOGFONT lf{};
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfHeight = pointSize;
  if (face) std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return CreatePointFontIndirect(&lf, dc);
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height) {
  return dc && Attach(::CreateCompatibleBitmap(dc->m_hDC, width, height));
}

CSize CBitmap::GetBitmapDimension() const {
  BITMAP bm{};
  if (!GetBitmap(&bm)) return CSize();
  return CSize(bm.bmWidth, bm.bmHeight);
}

// --- CDC ---

CDC::~CDC() {
  if (owns_ && m_hDC) ::DeleteDC(m_hDC);
}

BOOL CDC::Attach(HDC hdc) {
  if (!hdc) return FALSE;
  m_hDC = m_hAttribDC = hdc;
  owns_ = false;
  return TRUE;
}

HDC CDC::Detach() {
  HDC h = m_hDC;
  m_hDC = m_hAttribDC = nullptr;
  owns_ = false;
  return h;
}

CDC* CDC::FromHandle(HDC hdc) { return TempMaps::Get().Dc(hdc); }

BOOL CDC::CreateCompatibleDC(CDC* dc) {
  HDC h = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
  if (!h) return FALSE;
  m_hDC = m_hAttribDC = h;
  owns_ = true;
  return TRUE;
}

BOOL CDC::CreateDC(LPCSTR driver, LPCSTR device, LPCSTR output, const void* init) {
  HDC h = ::CreateDC(driver, device, output, init);
  if (!h) return FALSE;
  m_hDC = m_hAttribDC = h;
  owns_ = true;
  return TRUE;
}

BOOL CDC::DeleteDC() {
  if (!m_hDC) return FALSE;
  BOOL ok = ::DeleteDC(m_hDC);
  m_hDC = m_hAttribDC = nullptr;
  owns_ = false;
  return ok;
}

CWnd* CDC::GetWindow() const { return CWnd::FromHandlePermanent(::WindowFromDC(m_hDC)); }

CPen* CDC::SelectObject(CPen* pen) {
  return CPen::FromHandle(static_cast<HPEN>(::SelectObject(m_hDC, pen ? pen->m_hObject : nullptr)));
}
CBrush* CDC::SelectObject(CBrush* brush) {
  return CBrush::FromHandle(static_cast<HBRUSH>(::SelectObject(m_hDC, brush ? brush->m_hObject : nullptr)));
}
CFont* CDC::SelectObject(CFont* font) {
  return CFont::FromHandle(static_cast<HFONT>(::SelectObject(m_hDC, font ? font->m_hObject : nullptr)));
}
CBitmap* CDC::SelectObject(CBitmap* bitmap) {
  return CBitmap::FromHandle(static_cast<HBITMAP>(::SelectObject(m_hDC, bitmap ? bitmap->m_hObject : nullptr)));
}
int CDC::SelectObject(CRgn* region) { return ::SelectClipRgn(m_hDC, region ? static_cast<HRGN>(region->m_hObject) : nullptr); }
CGdiObject* CDC::SelectObject(CGdiObject* object) {
  return CGdiObject::FromHandle(::SelectObject(m_hDC, object ? object->m_hObject : nullptr));
}
CGdiObject* CDC::SelectStockObject(int index) { return CGdiObject::FromHandle(::SelectObject(m_hDC, ::GetStockObject(index))); }

CPoint CDC::SetBrushOrg(int x, int y) {
  POINT old{0, 0};
  ::SetBrushOrgEx(m_hDC, x, y, &old);
  return old;
}
CPoint CDC::SetViewportOrg(int x, int y) {
  POINT old{0, 0};
  ::SetViewportOrgEx(m_hDC, x, y, &old);
  return old;
}
CPoint CDC::OffsetViewportOrg(int dx, int dy) {
  POINT old{0, 0};
  ::OffsetViewportOrgEx(m_hDC, dx, dy, &old);
  return old;
}
CPoint CDC::GetViewportOrg() const {
  POINT p{0, 0};
  ::GetViewportOrgEx(m_hDC, &p);
  return p;
}
CPoint CDC::SetWindowOrg(int x, int y) {
  POINT old{0, 0};
  ::SetWindowOrgEx(m_hDC, x, y, &old);
  return old;
}
CPoint CDC::GetWindowOrg() const {
  POINT p{0, 0};
  ::GetWindowOrgEx(m_hDC, &p);
  return p;
}
CPoint CDC::MoveTo(int x, int y) {
  POINT old{0, 0};
  ::MoveToEx(m_hDC, x, y, &old);
  return old;
}
CPoint CDC::GetCurrentPosition() const {
  POINT p{0, 0};
  ::GetCurrentPositionEx(m_hDC, &p);
  return p;
}

void CDC::FillSolidRect(LPCRECT rect, COLORREF color) {
  ::SetBkColor(m_hDC, color);
  ::ExtTextOut(m_hDC, 0, 0, ETO_OPAQUE, rect, nullptr, 0, nullptr);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF color) {
  RECT r{x, y, x + cx, y + cy};
  FillSolidRect(&r, color);
}

void CDC::Draw3dRect(LPCRECT rect, COLORREF topLeft, COLORREF bottomRight) {
  Draw3dRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, topLeft, bottomRight);
}

void CDC::Draw3dRect(int x, int y, int cx, int cy, COLORREF topLeft, COLORREF bottomRight) {
  FillSolidRect(x, y, cx - 1, 1, topLeft);
  FillSolidRect(x, y, 1, cy - 1, topLeft);
  FillSolidRect(x + cx - 1, y, 1, cy, bottomRight);
  FillSolidRect(x, y + cy - 1, cx, 1, bottomRight);
}

CSize CDC::GetTextExtent(LPCSTR text, int length) const {
  SIZE s{0, 0};
  ::GetTextExtentPoint32(m_hDC, text, length, &s);
  return s;
}

// --- Window and paint DCs ---

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->GetSafeHwnd() : nullptr) { Attach(::GetDC(m_hWnd)); }
CClientDC::~CClientDC() { ::ReleaseDC(m_hWnd, Detach()); }

CWindowDC::CWindowDC(CWnd* wnd) : m_hWnd(wnd ? wnd->GetSafeHwnd() : nullptr) { Attach(::GetWindowDC(m_hWnd)); }
CWindowDC::~CWindowDC() { ::ReleaseDC(m_hWnd, Detach()); }

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd ? wnd->GetSafeHwnd() : nullptr) { Attach(::BeginPaint(m_hWnd, &m_ps)); }
CPaintDC::~CPaintDC() {
  Detach();
  ::EndPaint(m_hWnd, &m_ps);
}

HBITMAP AfxLoadSysColorBitmap(HINSTANCE instance, HRSRC resource) {
  const auto* bytes = static_cast<const uint8_t*>(::LockResource(::LoadResource(instance, resource)));
  const DWORD size = ::SizeofResource(instance, resource);
  if (!bytes || size < sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes, sizeof header);
  const uint64_t bits = header.biBitCount;
  if (header.biSize < sizeof header || header.biSize > size || header.biCompression != 0 ||
      (bits != 1 && bits != 4 && bits != 8) || header.biWidth <= 0 || header.biWidth > 16384 ||
      header.biHeight == 0 || header.biHeight > 16384 || header.biHeight < -16384)
    return nullptr;
  const uint64_t colours = header.biClrUsed ? header.biClrUsed : (uint64_t{1} << bits);
  const uint64_t width = static_cast<uint64_t>(header.biWidth);
  const uint64_t height = static_cast<uint64_t>(header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight);
  const uint64_t stride = ((width * bits + 31) / 32) * 4;
  const uint64_t offset = header.biSize + colours * 4;
  if (colours > 256 || offset + stride * height > size) return nullptr;
  // The header and the colour table are copied, aligned, and the table is mapped in the copy.
  std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  std::memcpy(info.data(), &header, sizeof header);
  reinterpret_cast<BITMAPINFOHEADER*>(info.data())->biSize = sizeof(BITMAPINFOHEADER);
  auto* table = reinterpret_cast<RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER));
  std::memcpy(table, bytes + header.biSize, static_cast<size_t>(colours * 4));
  static const struct {
    COLORREF standard;
    int system;
  } kMap[] = {{RGB(0, 0, 0), COLOR_BTNTEXT},
              {RGB(128, 128, 128), COLOR_BTNSHADOW},
              {RGB(192, 192, 192), COLOR_BTNFACE},
              {RGB(255, 255, 255), COLOR_BTNHIGHLIGHT}};
  for (uint64_t i = 0; i < colours; ++i) {
    RGBQUAD& entry = table[i];
    const COLORREF colour = RGB(entry.rgbRed, entry.rgbGreen, entry.rgbBlue);
    for (const auto& map : kMap)
      if (colour == map.standard) {
        const COLORREF now = ::GetSysColor(map.system);
        entry = RGBQUAD{GetBValue(now), GetGValue(now), GetRValue(now), 0};
        break;
      }
  }
  void* pixels = nullptr;
  HBITMAP bitmap =
      ::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bitmap && pixels) std::memcpy(pixels, bytes + offset, static_cast<size_t>(stride * height));
  return bitmap;
}
