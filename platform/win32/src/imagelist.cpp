#include "win32/imagelist.h"

#include <algorithm>

#include "gdi_internal.h"
#include "win32/user_draw.h"

using namespace tavrin::gdi::detail;
namespace draw = tavrin::draw;

namespace {

constexpr DWORD kImageListType = tavrin::gdi::kImageListObjects;

struct Image {
  draw::Surface color;
  std::vector<uint8_t> transparent;  // one per pixel; empty without a mask
};

struct ImageList : Object {
  ImageList() : Object(kImageListType) {}
  int cx = 0, cy = 0;
  UINT flags = 0;
  COLORREF background = CLR_NONE;
  std::vector<Image> images;
  std::vector<HBITMAP> infoBitmaps;  // handed out by ImageList_GetImageInfo
  ~ImageList() override = default;
  bool masked() const { return (flags & ILC_MASK) != 0; }
};

std::shared_ptr<ImageList> ListOf(HIMAGELIST list) { return LookupAs<ImageList>(list); }

void DropInfoBitmaps(ImageList& l) {
  for (HBITMAP b : l.infoBitmaps) DeleteObject(b);
  l.infoBitmaps.clear();
}

Image Blank(const ImageList& l) {
  Image i;
  i.color.Reset(l.cx, l.cy, 0);
  if (l.masked()) i.transparent.assign(static_cast<size_t>(l.cx) * l.cy, 1);
  return i;
}

// Cuts a bitmap (and its mask) into images of the list's size.
std::vector<Image> Cut(const ImageList& l, HBITMAP image, HBITMAP mask, const COLORREF* maskColor) {
  std::vector<Image> out;
  auto img = LookupAs<Bitmap>(image);
  if (!img) return out;
  img->LoadFromBits();
  std::shared_ptr<Bitmap> m = mask ? LookupAs<Bitmap>(mask) : nullptr;
  if (m) m->LoadFromBits();
  int count = img->width / l.cx;
  for (int n = 0; n < count; ++n) {
    Image i = Blank(l);
    for (int y = 0; y < l.cy; ++y)
      for (int x = 0; x < l.cx; ++x) {
        int sx = n * l.cx + x;
        draw::Pixel p = img->surface->get(sx, y);
        if (img->mono) p = MonoOf(p);
        bool clear = false;
        if (maskColor) clear = (p & 0xFFFFFF) == ToPixel(*maskColor);
        else if (m) clear = (m->surface->get(sx, y) & 0xFFFFFF) != 0;
        if (l.masked()) i.transparent[static_cast<size_t>(y) * l.cx + x] = clear ? 1 : 0;
        i.color.set(x, y, clear && maskColor ? 0 : p);
      }
    out.push_back(std::move(i));
  }
  return out;
}

Image FromIcon(const ImageList& l, HICON handle, bool* ok) {
  Image i = Blank(l);
  auto icon = LookupAs<Icon>(handle);
  *ok = icon != nullptr;
  if (!icon) return i;
  // Scaled to the list's size, nearest pixel.
  for (int y = 0; y < l.cy; ++y)
    for (int x = 0; x < l.cx; ++x) {
      int sx = x * icon->width / l.cx, sy = y * icon->height / l.cy;
      bool clear = (icon->mask.get(sx, sy) & 0xFFFFFF) != 0;
      draw::Pixel p = icon->color.get(sx, sy);
      if (icon->hasAlpha) clear = draw::AlphaOf(p) < 128;
      i.color.set(x, y, clear ? 0 : (p & 0xFFFFFF));
      if (l.masked()) i.transparent[static_cast<size_t>(y) * l.cx + x] = clear ? 1 : 0;
    }
  return i;
}

draw::Pixel Mix(draw::Pixel a, draw::Pixel b, int percentB) {
  auto ch = [&](int x, int y) { return (x * (100 - percentB) + y * percentB) / 100; };
  return draw::Rgb(ch(draw::RedOf(a), draw::RedOf(b)), ch(draw::GreenOf(a), draw::GreenOf(b)), ch(draw::BlueOf(a), draw::BlueOf(b)));
}

}  // namespace

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int, int) {
  if (cx <= 0 || cy <= 0 || cx > 4096 || cy > 4096) return nullptr;
  auto l = std::make_shared<ImageList>();
  l->cx = cx;
  l->cy = cy;
  l->flags = flags;
  return reinterpret_cast<HIMAGELIST>(Insert(l));
}

BOOL ImageList_Destroy(HIMAGELIST list) {
  auto l = ListOf(list);
  if (!l) return FALSE;
  DropInfoBitmaps(*l);
  Remove(list);
  return TRUE;
}

HIMAGELIST ImageList_Duplicate(HIMAGELIST list) {
  auto l = ListOf(list);
  if (!l) return nullptr;
  auto copy = std::make_shared<ImageList>();
  copy->cx = l->cx;
  copy->cy = l->cy;
  copy->flags = l->flags;
  copy->background = l->background;
  copy->images = l->images;
  return reinterpret_cast<HIMAGELIST>(Insert(copy));
}

int ImageList_GetImageCount(HIMAGELIST list) {
  auto l = ListOf(list);
  return l ? static_cast<int>(l->images.size()) : 0;
}

BOOL ImageList_SetImageCount(HIMAGELIST list, UINT count) {
  auto l = ListOf(list);
  if (!l || count > 100000) return FALSE;
  while (l->images.size() < count) l->images.push_back(Blank(*l));
  l->images.resize(count);
  return TRUE;
}

int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask) {
  auto l = ListOf(list);
  if (!l) return -1;
  std::vector<Image> cut = Cut(*l, image, mask, nullptr);
  if (cut.empty()) return -1;
  int first = static_cast<int>(l->images.size());
  for (Image& i : cut) l->images.push_back(std::move(i));
  return first;
}

int ImageList_AddMasked(HIMAGELIST list, HBITMAP image, COLORREF maskColor) {
  auto l = ListOf(list);
  if (!l) return -1;
  std::vector<Image> cut = Cut(*l, image, nullptr, &maskColor);
  if (cut.empty()) return -1;
  int first = static_cast<int>(l->images.size());
  for (Image& i : cut) l->images.push_back(std::move(i));
  return first;
}

int ImageList_ReplaceIcon(HIMAGELIST list, int index, HICON icon) {
  auto l = ListOf(list);
  if (!l || index < -1 || index >= static_cast<int>(l->images.size())) return -1;
  bool ok = false;
  Image i = FromIcon(*l, icon, &ok);
  if (!ok) return -1;
  if (index == -1) {
    l->images.push_back(std::move(i));
    return static_cast<int>(l->images.size()) - 1;
  }
  l->images[static_cast<size_t>(index)] = std::move(i);
  return index;
}

BOOL ImageList_Replace(HIMAGELIST list, int index, HBITMAP image, HBITMAP mask) {
  auto l = ListOf(list);
  if (!l || index < 0 || index >= static_cast<int>(l->images.size())) return FALSE;
  std::vector<Image> cut = Cut(*l, image, mask, nullptr);
  if (cut.empty()) return FALSE;
  l->images[static_cast<size_t>(index)] = std::move(cut[0]);
  return TRUE;
}

BOOL ImageList_Remove(HIMAGELIST list, int index) {
  auto l = ListOf(list);
  if (!l || index < -1 || index >= static_cast<int>(l->images.size())) return FALSE;
  if (index == -1) l->images.clear();
  else l->images.erase(l->images.begin() + index);
  return TRUE;
}

HICON ImageList_GetIcon(HIMAGELIST list, int index, UINT) {
  auto l = ListOf(list);
  if (!l || index < 0 || index >= static_cast<int>(l->images.size())) return nullptr;
  const Image& i = l->images[static_cast<size_t>(index)];
  HBITMAP mask = CreateBitmap(l->cx, l->cy, 1, 1, nullptr);
  auto m = LookupAs<Bitmap>(mask);
  for (int y = 0; y < l->cy; ++y)
    for (int x = 0; x < l->cx; ++x)
      m->surface->set(x, y, !i.transparent.empty() && i.transparent[static_cast<size_t>(y) * l->cx + x] ? 0xFFFFFF : 0);
  draw::Surface color = i.color;
  if (!i.transparent.empty())
    for (int y = 0; y < l->cy; ++y)
      for (int x = 0; x < l->cx; ++x)
        if (i.transparent[static_cast<size_t>(y) * l->cx + x]) color.set(x, y, 0);
  HBITMAP colorBitmap = tavrin::gdi::CreateBitmapFromSurface(color);
  ICONINFO ii{TRUE, 0, 0, mask, colorBitmap};
  HICON icon = CreateIconIndirect(&ii);
  DeleteObject(mask);
  DeleteObject(colorBitmap);
  return icon;
}

BOOL ImageList_GetIconSize(HIMAGELIST list, int* cx, int* cy) {
  auto l = ListOf(list);
  if (!l || !cx || !cy) return FALSE;
  *cx = l->cx;
  *cy = l->cy;
  return TRUE;
}

BOOL ImageList_SetIconSize(HIMAGELIST list, int cx, int cy) {
  auto l = ListOf(list);
  if (!l || cx <= 0 || cy <= 0 || cx > 4096 || cy > 4096) return FALSE;
  l->cx = cx;
  l->cy = cy;
  l->images.clear();
  return TRUE;
}

COLORREF ImageList_SetBkColor(HIMAGELIST list, COLORREF color) {
  auto l = ListOf(list);
  if (!l) return CLR_NONE;
  std::swap(l->background, color);
  return color;
}

COLORREF ImageList_GetBkColor(HIMAGELIST list) {
  auto l = ListOf(list);
  return l ? l->background : CLR_NONE;
}

BOOL ImageList_GetImageInfo(HIMAGELIST list, int index, IMAGEINFO* info) {
  auto l = ListOf(list);
  if (!l || !info || index < 0 || index >= static_cast<int>(l->images.size())) return FALSE;
  const Image& i = l->images[static_cast<size_t>(index)];
  info->hbmImage = tavrin::gdi::CreateBitmapFromSurface(i.color);
  info->hbmMask = nullptr;
  if (!i.transparent.empty()) {
    info->hbmMask = CreateBitmap(l->cx, l->cy, 1, 1, nullptr);
    auto m = LookupAs<Bitmap>(info->hbmMask);
    for (int y = 0; y < l->cy; ++y)
      for (int x = 0; x < l->cx; ++x)
        m->surface->set(x, y, i.transparent[static_cast<size_t>(y) * l->cx + x] ? 0xFFFFFF : 0);
    l->infoBitmaps.push_back(info->hbmMask);
  }
  l->infoBitmaps.push_back(info->hbmImage);
  info->Unused1 = info->Unused2 = 0;
  info->rcImage = {0, 0, l->cx, l->cy};
  return TRUE;
}

BOOL ImageList_DrawEx(HIMAGELIST list, int index, HDC hdc, int x, int y, int dx, int dy, COLORREF background,
                      COLORREF foreground, UINT style) {
  auto l = ListOf(list);
  auto dc = LookupDc(hdc);
  if (!l || !dc || !dc->surface || index < 0 || index >= static_cast<int>(l->images.size())) return FALSE;
  const Image& image = l->images[static_cast<size_t>(index)];
  int w = dx > 0 ? std::min(dx, l->cx) : l->cx, h = dy > 0 ? std::min(dy, l->cy) : l->cy;
  COLORREF bk = background == CLR_DEFAULT ? l->background : background;
  bool transparent = (style & ILD_TRANSPARENT) || bk == CLR_NONE;
  int blend = (style & ILD_BLEND50) ? 50 : ((style & ILD_BLEND25) ? 25 : 0);
  draw::Pixel fg = ToPixel(foreground == CLR_DEFAULT || foreground == CLR_NONE ? GetSysColor(COLOR_HIGHLIGHT) : foreground);
  DrawScope scope(*dc);
  draw::Region clip = dc->Clip();
  int ox = x + dc->OffX(), oy = y + dc->OffY();
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      int px = ox + i, py = oy + j;
      if (!dc->surface->bounds().contains(px, py) || !clip.contains(px, py)) continue;
      bool clear = !image.transparent.empty() && image.transparent[static_cast<size_t>(j) * l->cx + i];
      draw::Pixel out;
      if (style & ILD_MASK) {
        out = clear ? 0xFFFFFF : 0;
      } else if (clear) {
        if (transparent || image.transparent.empty()) continue;
        out = ToPixel(bk);
      } else {
        out = image.color.at(i, j) & 0xFFFFFF;
        if (blend) out = Mix(out, fg, blend);
      }
      dc->surface->set(px, py, dc->Mono() ? MonoOf(out) : out);
    }
  dc->Touch({ox, oy, ox + w, oy + h});
  return TRUE;
}

BOOL ImageList_Draw(HIMAGELIST list, int index, HDC hdc, int x, int y, UINT style) {
  return ImageList_DrawEx(list, index, hdc, x, y, 0, 0, CLR_DEFAULT, CLR_DEFAULT, style);
}
