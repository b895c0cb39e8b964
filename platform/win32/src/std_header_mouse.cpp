// The header's mouse: divider drags that resize an item (the parent may refuse the drag or a width),
// clicks on button items, and double clicks. Items are read and changed through the header's own
// messages; the drag in progress is kept on the window.
#include "comctl_internal.h"

namespace tavrin::controls::detail {
namespace {

constexpr char kProp[] = "TavrinHeaderDrag";

struct Drag {
  int item = -1;
  bool divider = false;  // resizing, else pressing an item
  int left = 0;          // the dragged item's left edge
};

LRESULT Notify(HWND hwnd, UINT code, int item, HDITEM* hd) {
  NMHEADER note{};
  note.iItem = item;
  note.pitem = hd;
  return NotifyParent(hwnd, note.hdr, code);
}

HDHITTESTINFO Hit(HWND hwnd, LPARAM lParam) {
  HDHITTESTINFO info{};
  info.pt = POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  SendMessage(hwnd, HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&info));
  return info;
}

void Resize(HWND hwnd, const Drag& drag, int x) {
  HDITEM hd{};
  hd.mask = HDI_WIDTH;
  hd.cxy = std::max(0, x - drag.left);
  Notify(hwnd, HDN_TRACKA, drag.item, &hd);
  if (Notify(hwnd, HDN_ITEMCHANGINGA, drag.item, &hd)) return;  // refused
  SendMessage(hwnd, HDM_SETITEM, static_cast<WPARAM>(drag.item), reinterpret_cast<LPARAM>(&hd));
  Notify(hwnd, HDN_ITEMCHANGEDA, drag.item, &hd);
}

}  // namespace

bool HeaderMouse(HWND hwnd, UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
  auto* drag = static_cast<Drag*>(GetProp(hwnd, kProp));
  result = 0;
  switch (message) {
    case WM_LBUTTONDOWN: {
      HDHITTESTINFO hit = Hit(hwnd, lParam);
      if (hit.iItem < 0) return true;
      const bool divider = hit.flags == HHT_ONDIVIDER;
      if (!divider && !(StyleOf(hwnd) & HDS_BUTTONS)) return true;
      HDITEM hd{};
      hd.mask = HDI_WIDTH;
      SendMessage(hwnd, HDM_GETITEM, static_cast<WPARAM>(hit.iItem), reinterpret_cast<LPARAM>(&hd));
      if (divider && Notify(hwnd, HDN_BEGINTRACKA, hit.iItem, &hd)) return true;  // the parent keeps the width
      RECT rc{};
      SendMessage(hwnd, HDM_GETITEMRECT, static_cast<WPARAM>(hit.iItem), reinterpret_cast<LPARAM>(&rc));
      if (!drag) {
        drag = new Drag;
        SetProp(hwnd, kProp, drag);
      }
      *drag = Drag{hit.iItem, divider, rc.left};
      SetCapture(hwnd);
      return true;
    }
    case WM_MOUSEMOVE:
      if (drag && drag->divider && GetCapture() == hwnd) Resize(hwnd, *drag, GET_X_LPARAM(lParam));
      return drag != nullptr && GetCapture() == hwnd;
    case WM_LBUTTONUP: {
      if (!drag) return false;
      const Drag done = *drag;
      RemoveProp(hwnd, kProp);
      delete drag;
      if (GetCapture() == hwnd) ReleaseCapture();
      if (done.divider) {
        Resize(hwnd, done, GET_X_LPARAM(lParam));
        HDITEM hd{};
        hd.mask = HDI_WIDTH;
        SendMessage(hwnd, HDM_GETITEM, static_cast<WPARAM>(done.item), reinterpret_cast<LPARAM>(&hd));
        Notify(hwnd, HDN_ENDTRACKA, done.item, &hd);
      } else if (Hit(hwnd, lParam).iItem == done.item) {
        Notify(hwnd, HDN_ITEMCLICKA, done.item, nullptr);
      }
      return true;
    }
    case WM_CAPTURECHANGED:
      if (drag && reinterpret_cast<HWND>(lParam) != hwnd) {
        RemoveProp(hwnd, kProp);
        delete drag;
      }
      return false;
    case WM_LBUTTONDBLCLK: {
      HDHITTESTINFO hit = Hit(hwnd, lParam);
      if (hit.iItem >= 0) Notify(hwnd, hit.flags == HHT_ONDIVIDER ? HDN_DIVIDERDBLCLICKA : HDN_ITEMDBLCLICKA, hit.iItem, nullptr);
      return true;
    }
    case WM_NCDESTROY:
      if (drag) {
        RemoveProp(hwnd, kProp);
        delete drag;
      }
      return false;
    default:
      return false;
  }
}

}  // namespace tavrin::controls::detail
