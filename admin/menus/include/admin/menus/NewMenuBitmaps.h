// An icon set that grows one icon or bitmap at a time, for items given their own picture rather than a
// toolbar's; each picture gets its darkened and faded variants as in every icon set.
#pragma once
#include <vector>

#include "admin/menus/NewMenu.h"

class CNewMenuBitmaps : public CNewMenuIcons {
  DECLARE_DYNAMIC(CNewMenuBitmaps)

 public:
  // Each returns the image index of the normal picture, or 0xFFFFFFFF (a picture of another size than the
  // set's is refused).
  // A bitmap resource, masked by the colour; an identifier already held gives its index.
  UINT AddBitmapResource(UINT bitmapId, COLORREF transparent);
  // An icon under a command; a command already held has its three images replaced.
  UINT AddIcon(HICON icon, UINT commandId);
  // A bitmap of the caller's (not taken over), masked by the colour, under key 0.
  UINT AddBitmap(HBITMAP bitmap, COLORREF transparent);
  // New variants of every picture after a colour change; the pictures themselves stay.
  void RefreshColors() override;
  // Whether a key (command or bitmap identifier) is held.
  BOOL HoldsKey(UINT key) const;

  std::vector<COLORREF> m_colors;  // per picture; 0xFFFFFFFF for icons

 private:
  // The size check and, for the first picture, the list itself.
  BOOL Fits(int width, int height);
  UINT AppendMasked(HBITMAP bitmap, COLORREF transparent, UINT key);
};
