#include "mfc/imagelist.h"

#include <map>
#include <memory>

// FromHandle wrappers, per thread; they own nothing and go once their list is gone.
struct ImageListTemps {
  static CImageList* Get(HIMAGELIST list) {
    thread_local std::map<HIMAGELIST, std::unique_ptr<CImageList>> temps;
    if (temps.size() >= 64)
      for (auto it = temps.begin(); it != temps.end();) {
        int cx, cy;
        if (!::ImageList_GetIconSize(it->first, &cx, &cy)) it = temps.erase(it);
        else ++it;
      }
    auto& slot = temps[list];
    if (!slot) {
      slot = std::make_unique<CImageList>();
      slot->m_hImageList = list;
      slot->temporary_ = true;
    }
    return slot.get();
  }
};

CImageList::~CImageList() {
  if (!temporary_) DeleteImageList();
}

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  return Attach(::ImageList_Create(cx, cy, flags, initial, grow));
}

BOOL CImageList::Create(CImageList* source) {
  return source && Attach(::ImageList_Duplicate(source->m_hImageList));
}

BOOL CImageList::Attach(HIMAGELIST list) {
  if (!list) return FALSE;
  if (m_hImageList && !temporary_) DeleteImageList();
  m_hImageList = list;
  return TRUE;
}

HIMAGELIST CImageList::Detach() {
  HIMAGELIST l = m_hImageList;
  m_hImageList = nullptr;
  return l;
}

BOOL CImageList::DeleteImageList() {
  if (!m_hImageList) return FALSE;
  BOOL ok = ::ImageList_Destroy(m_hImageList);
  m_hImageList = nullptr;
  return ok;
}

CImageList* CImageList::FromHandle(HIMAGELIST list) { return list ? ImageListTemps::Get(list) : nullptr; }
