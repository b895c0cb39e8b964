// Text output and measuring with the DC's font.
#include <algorithm>
#include <cstring>

#include "gdi_internal.h"

using namespace tavrin::gdi::detail;
namespace draw = tavrin::draw;

namespace {

std::string_view TextOf(LPCSTR text, int length) {
  if (!text) return {};
  if (length < 0) return std::string_view(text);
  return std::string_view(text, static_cast<size_t>(length));
}

int Turn(const draw::Font& f) { return f.Turn(); }

// (u, v) of the text's own frame to device offsets.
draw::Point Rotate(int turn, int u, int v) {
  switch (turn) {
    case 900: return {v, -u};
    case 1800: return {-u, -v};
    case 2700: return {-v, u};
    default: return {u, v};
  }
}

// Draws one run at logical (x, y) by the DC's alignment; `dx` gives each character's advance when set.
BOOL Output(HDC hdc, int x, int y, UINT options, const RECT* rect, std::string_view text, const INT* dx) {
  auto dc = LookupDc(hdc);
  if (!dc || !dc->surface) return FALSE;
  auto fontObj = FontOf(*dc);
  const draw::Font* font = fontObj->font.get();
  DrawScope scope(*dc);
  draw::Region clip = dc->Clip();
  int ox = dc->OffX(), oy = dc->OffY();
  if (rect && (options & ETO_CLIPPED)) clip &= draw::Region(ToRect(*rect).offset(ox, oy).normalized());
  if (rect && (options & ETO_OPAQUE)) {
    draw::Rect r = draw::Rect(ToRect(*rect)).offset(ox, oy).normalized();
    draw::Region opaqueClip = dc->Clip();
    draw::FillRect(*dc->surface, opaqueClip, r, dc->Color(dc->state.bkColor));
    dc->Touch(r);
  }
  if (!font || text.empty()) return TRUE;
  const draw::FontMetrics& m = font->metrics();
  int extra = dc->state.textCharExtra;
  std::vector<int> advances;
  int width = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    int a = dx ? dx[i] : font->Advance(static_cast<unsigned char>(text[i])) + extra;
    advances.push_back(a);
    width += a;
  }
  UINT align = dc->state.textAlign;
  POINT ref{x, y};
  if (align & TA_UPDATECP) ref = dc->state.position;
  int u0 = 0, v0 = 0;
  if ((align & TA_CENTER) == TA_CENTER) u0 = -width / 2;
  else if (align & TA_RIGHT) u0 = -width;
  if ((align & TA_BASELINE) == TA_BASELINE) v0 = -m.ascent;
  else if (align & TA_BOTTOM) v0 = -m.height;
  int turn = Turn(*font);
  draw::Point start = Rotate(turn, u0, v0);
  int sx = ref.x + ox + start.x, sy = ref.y + oy + start.y;
  draw::Point boxA = {sx, sy};
  draw::Point far = Rotate(turn, width, m.height);
  draw::Rect cell = draw::Rect{boxA.x, boxA.y, boxA.x + far.x, boxA.y + far.y}.normalized();
  if (dc->state.bkMode == OPAQUE && !(rect && (options & ETO_OPAQUE))) {
    draw::FillRect(*dc->surface, clip, cell, dc->Color(dc->state.bkColor));
  }
  draw::Pixel color = dc->Color(dc->state.textColor);
  int pen = 0;
  if (!dx && extra == 0) {
    font->Draw(*dc->surface, clip, sx, sy, text, color);
  } else {
    for (size_t i = 0; i < text.size(); ++i) {
      draw::Point at = Rotate(turn, pen, 0);
      font->Draw(*dc->surface, clip, sx + at.x, sy + at.y, text.substr(i, 1), color);
      pen += advances[i];
    }
  }
  dc->Touch(cell);
  if (align & TA_UPDATECP) {
    draw::Point step = Rotate(turn, (align & TA_RIGHT) && (align & TA_CENTER) != TA_CENTER ? -width : width, 0);
    if ((align & TA_CENTER) != TA_CENTER) {
      dc->state.position.x += step.x;
      dc->state.position.y += step.y;
    }
  }
  return TRUE;
}

}  // namespace

BOOL TextOut(HDC hdc, int x, int y, LPCSTR text, int length) {
  if (length < 0) return FALSE;
  return Output(hdc, x, y, 0, nullptr, TextOf(text, length), nullptr);
}

BOOL ExtTextOut(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT length, const INT* dx) {
  return Output(hdc, x, y, options, rect, text ? std::string_view(text, length) : std::string_view(), dx);
}

BOOL GetTextExtentPoint32(HDC hdc, LPCSTR text, int length, LPSIZE size) {
  auto dc = LookupDc(hdc);
  if (!dc || !size || length < 0 || (!text && length > 0)) return FALSE;
  auto f = FontOf(*dc);
  std::string_view t = TextOf(text, length);
  if (!f->font) {
    *size = {0, 0};
    return TRUE;
  }
  size->cx = f->font->Measure(t) + dc->state.textCharExtra * static_cast<int>(t.size());
  size->cy = f->font->metrics().height;
  return TRUE;
}

BOOL GetTextExtentPoint(HDC hdc, LPCSTR text, int length, LPSIZE size) {
  return GetTextExtentPoint32(hdc, text, length, size);
}

BOOL GetTextExtentExPoint(HDC hdc, LPCSTR text, int length, int maxExtent, INT* fit, INT* dx, LPSIZE size) {
  auto dc = LookupDc(hdc);
  if (!dc || !size || length < 0 || (!text && length > 0)) return FALSE;
  auto f = FontOf(*dc);
  int total = 0, fits = 0;
  for (int i = 0; i < length; ++i) {
    total += (f->font ? f->font->Advance(static_cast<unsigned char>(text[i])) : 0) + dc->state.textCharExtra;
    if (dx) dx[i] = total;
    if (total <= maxExtent) fits = i + 1;
  }
  if (fit) *fit = fits;
  size->cx = total;
  size->cy = f->font ? f->font->metrics().height : 0;
  return TRUE;
}

BOOL GetTextMetrics(HDC hdc, LPTEXTMETRIC metrics) {
  auto dc = LookupDc(hdc);
  if (!dc || !metrics) return FALSE;
  auto f = FontOf(*dc);
  *metrics = TEXTMETRIC{};
  if (!f->font) return FALSE;
  const draw::FontMetrics& m = f->font->metrics();
  metrics->tmHeight = m.height;
  metrics->tmAscent = m.ascent;
  metrics->tmDescent = m.descent;
  metrics->tmInternalLeading = m.internalLeading;
  metrics->tmExternalLeading = m.externalLeading;
  metrics->tmAveCharWidth = m.averageCharWidth;
  metrics->tmMaxCharWidth = m.maxCharWidth;
  metrics->tmWeight = m.weight;
  metrics->tmDigitizedAspectX = 96;
  metrics->tmDigitizedAspectY = 96;
  metrics->tmFirstChar = 0x20;
  metrics->tmLastChar = 0xFF;
  metrics->tmDefaultChar = 0x1F;
  metrics->tmBreakChar = 0x20;
  metrics->tmItalic = f->lf.lfItalic;
  metrics->tmUnderlined = f->lf.lfUnderline;
  metrics->tmStruckOut = f->lf.lfStrikeOut;
  // The low bit set means variable pitch (the name says the opposite).
  metrics->tmPitchAndFamily = static_cast<BYTE>((m.fixedPitch ? 0 : TMPF_FIXED_PITCH) | TMPF_VECTOR | TMPF_TRUETYPE |
                                                (m.fixedPitch ? FF_MODERN : FF_SWISS));
  metrics->tmCharSet = f->lf.lfCharSet;
  return TRUE;
}

int GetTextFace(HDC hdc, int size, LPSTR face) {
  auto dc = LookupDc(hdc);
  if (!dc) return 0;
  auto f = FontOf(*dc);
  const char* name = f->lf.lfFaceName;
  int n = static_cast<int>(std::strlen(name));
  if (!face) return n + 1;
  if (size <= 0) return 0;
  int copy = std::min(n, size - 1);
  std::memcpy(face, name, static_cast<size_t>(copy));
  face[copy] = 0;
  return copy;
}

BOOL GetCharWidth32(HDC hdc, UINT first, UINT last, INT* widths) {
  auto dc = LookupDc(hdc);
  if (!dc || !widths || last < first || last > 0xFF) return FALSE;
  auto f = FontOf(*dc);
  for (UINT c = first; c <= last; ++c) widths[c - first] = f->font ? f->font->Advance(static_cast<unsigned char>(c)) : 0;
  return TRUE;
}

BOOL GetCharWidth(HDC hdc, UINT first, UINT last, INT* widths) { return GetCharWidth32(hdc, first, last, widths); }
