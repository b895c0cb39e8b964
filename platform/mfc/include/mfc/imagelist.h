// CImageList: an image list object that owns its list (ImageList_Destroy when destroyed).
#pragma once
#include "mfc/gdi.h"
#include "win32/imagelist.h"

class CImageList {
 public:
  CImageList() = default;
  virtual ~CImageList();
  CImageList(const CImageList&) = delete;
  CImageList& operator=(const CImageList&) = delete;

  HIMAGELIST m_hImageList = nullptr;

  HIMAGELIST GetSafeHandle() const { return m_hImageList; }
  operator HIMAGELIST() const { return m_hImageList; }  // NOLINT
  BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
  BOOL Create(CImageList* source);  // a copy of another list
  BOOL Attach(HIMAGELIST list);
  HIMAGELIST Detach();
  BOOL DeleteImageList();
  static CImageList* FromHandle(HIMAGELIST list);

  int GetImageCount() const { return ::ImageList_GetImageCount(m_hImageList); }
  BOOL SetImageCount(UINT count) { return ::ImageList_SetImageCount(m_hImageList, count); }
  int Add(CBitmap* image, CBitmap* mask) {
    return ::ImageList_Add(m_hImageList, image ? static_cast<HBITMAP>(image->m_hObject) : nullptr,
                           mask ? static_cast<HBITMAP>(mask->m_hObject) : nullptr);
  }
  int Add(CBitmap* image, COLORREF maskColor) {
    return ::ImageList_AddMasked(m_hImageList, image ? static_cast<HBITMAP>(image->m_hObject) : nullptr, maskColor);
  }
  int Add(HICON icon) { return ::ImageList_ReplaceIcon(m_hImageList, -1, icon); }
  int Replace(int index, HICON icon) { return ::ImageList_ReplaceIcon(m_hImageList, index, icon); }
  BOOL Replace(int index, CBitmap* image, CBitmap* mask) {
    return ::ImageList_Replace(m_hImageList, index, static_cast<HBITMAP>(image->m_hObject),
                               mask ? static_cast<HBITMAP>(mask->m_hObject) : nullptr);
  }
  BOOL Remove(int index) { return ::ImageList_Remove(m_hImageList, index); }
  HICON ExtractIcon(int index) { return ::ImageList_GetIcon(m_hImageList, index, 0); }
  COLORREF SetBkColor(COLORREF color) { return ::ImageList_SetBkColor(m_hImageList, color); }
  COLORREF GetBkColor() const { return ::ImageList_GetBkColor(m_hImageList); }
  BOOL GetImageInfo(int index, IMAGEINFO* info) const { return ::ImageList_GetImageInfo(m_hImageList, index, info); }
  BOOL Draw(CDC* dc, int index, POINT p, UINT style) {
    return ::ImageList_Draw(m_hImageList, index, dc ? dc->m_hDC : nullptr, p.x, p.y, style);
  }
  BOOL DrawIndirect(CDC* dc, int index, POINT p, SIZE size, POINT, UINT style = ILD_NORMAL, DWORD = SRCCOPY,
                    COLORREF background = CLR_DEFAULT, COLORREF foreground = CLR_DEFAULT) {
    return ::ImageList_DrawEx(m_hImageList, index, dc ? dc->m_hDC : nullptr, p.x, p.y, size.cx, size.cy, background,
                              foreground, style);
  }

 private:
  bool temporary_ = false;
  friend struct ImageListTemps;
};
