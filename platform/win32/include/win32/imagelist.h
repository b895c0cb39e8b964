// Image lists: rows of same-sized images, each with an optional transparency mask, drawn through GDI.
// A list lives in the GDI object table (so leak checks count it) until ImageList_Destroy.
#pragma once
#include "win32/gdi.h"

struct _IMAGELIST;
using HIMAGELIST = _IMAGELIST*;

constexpr UINT ILC_MASK = 0x00000001;
constexpr UINT ILC_COLOR = 0x00000000;
constexpr UINT ILC_COLORDDB = 0x000000FE;
constexpr UINT ILC_COLOR4 = 0x00000004;
constexpr UINT ILC_COLOR8 = 0x00000008;
constexpr UINT ILC_COLOR16 = 0x00000010;
constexpr UINT ILC_COLOR24 = 0x00000018;
constexpr UINT ILC_COLOR32 = 0x00000020;

constexpr UINT ILD_NORMAL = 0x00000000;
constexpr UINT ILD_TRANSPARENT = 0x00000001;
constexpr UINT ILD_BLEND25 = 0x00000002;
constexpr UINT ILD_FOCUS = ILD_BLEND25;
constexpr UINT ILD_BLEND50 = 0x00000004;
constexpr UINT ILD_SELECTED = ILD_BLEND50;
constexpr UINT ILD_BLEND = ILD_BLEND50;
constexpr UINT ILD_MASK = 0x00000010;
constexpr UINT ILD_IMAGE = 0x00000020;

struct IMAGEINFO {
  HBITMAP hbmImage;
  HBITMAP hbmMask;
  int Unused1;
  int Unused2;
  RECT rcImage;
};

// Null for a size below 1. `grow` only shapes memory on the real system; here images are kept one by one.
HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int grow);
BOOL ImageList_Destroy(HIMAGELIST list);
HIMAGELIST ImageList_Duplicate(HIMAGELIST list);
int ImageList_GetImageCount(HIMAGELIST list);
// Adds or drops blank images at the end.
BOOL ImageList_SetImageCount(HIMAGELIST list, UINT count);
// A bitmap wider than one image adds one image per cx columns; the mask (may be null) is a 1-bit bitmap,
// white where transparent. Returns the first new index, -1 on failure.
int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask);
// Pixels of `maskColor` become transparent (and black in the image, as the real list stores them).
int ImageList_AddMasked(HIMAGELIST list, HBITMAP image, COLORREF maskColor);
// index -1 appends. Returns the index, -1 on failure.
int ImageList_ReplaceIcon(HIMAGELIST list, int index, HICON icon);
inline int ImageList_AddIcon(HIMAGELIST list, HICON icon) { return ImageList_ReplaceIcon(list, -1, icon); }
BOOL ImageList_Replace(HIMAGELIST list, int index, HBITMAP image, HBITMAP mask);
// index -1 removes every image.
BOOL ImageList_Remove(HIMAGELIST list, int index);
inline BOOL ImageList_RemoveAll(HIMAGELIST list) { return ImageList_Remove(list, -1); }
// A new icon of one image (destroy it with DestroyIcon).
HICON ImageList_GetIcon(HIMAGELIST list, int index, UINT flags);
inline HICON ImageList_ExtractIcon(HINSTANCE, HIMAGELIST list, int index) { return ImageList_GetIcon(list, index, 0); }
BOOL ImageList_GetIconSize(HIMAGELIST list, int* cx, int* cy);
// Changes the size and removes every image.
BOOL ImageList_SetIconSize(HIMAGELIST list, int cx, int cy);
COLORREF ImageList_SetBkColor(HIMAGELIST list, COLORREF color);
COLORREF ImageList_GetBkColor(HIMAGELIST list);
// hbmImage/hbmMask are the list's own bitmaps of one image (copies made on each call are deleted with the
// list).
BOOL ImageList_GetImageInfo(HIMAGELIST list, int index, IMAGEINFO* info);
// ILD_NORMAL draws masked images on the list's background colour (transparently when that is CLR_NONE),
// ILD_TRANSPARENT always transparently; ILD_BLEND25 / ILD_BLEND50 mix the image with `foreground`
// (CLR_DEFAULT: the highlight colour) by a quarter / a half; ILD_MASK draws the mask.
BOOL ImageList_Draw(HIMAGELIST list, int index, HDC hdc, int x, int y, UINT style);
BOOL ImageList_DrawEx(HIMAGELIST list, int index, HDC hdc, int x, int y, int dx, int dy, COLORREF background,
                      COLORREF foreground, UINT style);
