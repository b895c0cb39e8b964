// tavrin-gallery: every custom control of TavrinAdmin in its states, in one window, for a person to
// look at. Shown on the X display (DISPLAY, or TAVRIN_DISPLAY=x11) until the window is closed, or with
// --png FILE drawn off screen and written as a PNG.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "controls/colored_tabs.h"
#include "controls/hiding_splitter.h"
#include "controls/note_panel.h"
#include "controls/shaded_button.h"
#include "controls/small_widgets.h"
#include "controls/tree_ctrl.h"
#include "draw/png.h"
#include "win32/window_manager.h"

namespace {

constexpr int kWidth = 1000, kHeight = 700;

// A pane of the splitter: its name on a tinted face.
class PaneView : public CWnd {
  DECLARE_DYNCREATE(PaneView)

 protected:
  void OnPaint() override {
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    CRect rc;
    GetClientRect(&rc);
    HBRUSH brush = ::CreateSolidBrush(RGB(0xE8, 0xF0, 0xF8));
    ::FillRect(hdc, &rc, brush);
    ::DeleteObject(brush);
    char text[32] = {};
    ::GetWindowText(m_hWnd, text, static_cast<int>(sizeof text));
    ::SetBkMode(hdc, TRANSPARENT);
    ::DrawText(hdc, text, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::EndPaint(m_hWnd, &ps);
  }
  void PostNcDestroy() override { delete this; }
};
IMPLEMENT_DYNCREATE(PaneView, CWnd)

class GalleryWindow : public CWnd {
 protected:
  void OnDestroy() override { ::PostQuitMessage(0); }
};

// Everything the window shows; members die after the window.
struct Gallery {
  CUiFontSet fonts;
  GalleryWindow window;
  std::vector<std::unique_ptr<CColorStatic>> titles;
  COXTreeCtrl focusedTree, plainTree;
  CColoredTabCtrl tabs[3];
  std::vector<std::unique_ptr<CShadedButton>> buttons;
  CHeaderListCtrl list;
  CColorStatic colourLabels[3];
  CWnd noteHost;
  CNotePanel note;
  CColoredTabsPropSheet sheet;
  CPropertyPage pageOne{"General"}, pageTwo{"Network"}, pageThree{"Password"};
  CWnd splitHost;
  CHidingSplitterWnd split;

  void Title(const char* text, int x, int y, int width) {
    auto label = std::make_unique<CColorStatic>();
    label->Create(text, WS_CHILD | WS_VISIBLE, CRect(x, y, x + width, y + 16), &window, 0);
    label->SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(fonts.GetFont(1)->GetSafeHandle()), FALSE);
    label->SetBkColor(RGB(0xD4, 0xD0, 0xC8));
    label->SetTextColor(RGB(0x20, 0x20, 0x60));
    titles.push_back(std::move(label));
  }

  void FillTree(COXTreeCtrl& tree, bool withStates) {
    tree.InsertColumn(1, "Port", 0, 44);
    tree.InsertColumn(2, "Class", 2, 90);
    tree.InsertColumn(3, "Status", 1, 90);
    HDITEM heading{};
    heading.mask = HDI_TEXT;
    heading.pszText = const_cast<LPSTR>("Device Info");
    tree.GetHeaderCtrl()->SetItem(0, &heading);
    tree.SendMessage(LVM_SETCOLUMNWIDTH, 0, 150);
    HTREEITEM server = tree.InsertItem("Server 192.168.1.20");
    HTREEITEM hub = tree.InsertItem("USB hub", server);
    HTREEITEM printer = tree.InsertItem("Office printer", hub);
    HTREEITEM disk = tree.InsertItem("Backup disk", hub);
    HTREEITEM camera = tree.InsertItem("Camera", server);
    HTREEITEM other = tree.InsertItem("Server 192.168.1.31");
    HTREEITEM scanner = tree.InsertItem("Scanner", other);
    const char* cells[][4] = {{"1", "Hub", "Free"}, {"2", "Printer", "Connected"}, {"3", "Mass storage", "Free"},
                              {"4", "Video", "Loading..."}, {"1", "Imaging", "In use"}};
    HTREEITEM rows[] = {hub, printer, disk, camera, scanner};
    for (int i = 0; i < 5; ++i) {
      for (int col = 1; col <= 3; ++col) tree.SetSubItem(rows[i], col, COXTreeCell::kText, cells[i][col - 1]);
    }
    tree.SetItemColor(printer, RGB(0, 128, 0), 3);
    tree.SetItemFont(server, fonts.GetFont(4));
    tree.SetItemFont(other, fonts.GetFont(4));
    tree.Expand(server, TVE_EXPAND);
    tree.Expand(hub, TVE_EXPAND);
    tree.Expand(other, TVE_EXPAND);
    if (withStates) {
      tree.SetItemDisabled(camera);
      tree.SortChildren(hub, 0, FALSE);
      tree.SelectItem(scanner);
    } else {
      tree.SelectItem(disk);
    }
  }

  bool Build() {
    if (!window.CreateEx(0, "Controls gallery", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, kWidth, kHeight, nullptr, 0)) {
      return false;
    }
    CRect client;
    window.GetClientRect(&client);
    const int half = client.Width() / 2;

    // Tree lists: focused, full-row, grid; and one without focus, showing its selection always.
    Title("Tree list: full row, grid, focus", 8, 4, half - 16);
    focusedTree.ModifyExStyle(0, 0x00100000 | 0x00200000 | 0x00400000 | 0x00800000);
    focusedTree.Create(WS_CHILD | WS_VISIBLE, CRect(8, 22, half - 8, 172), &window, 101);
    focusedTree.SetHorizontalGridColor(RGB(200, 200, 200));
    focusedTree.SetVerticalGridColor(RGB(200, 200, 200));
    FillTree(focusedTree, false);
    Title("Tree list: no focus, disabled item, sorted descending", 8, 178, half - 16);
    plainTree.ModifyExStyle(0, 0x00100000);
    plainTree.ModifyStyle(0, TVS_SHOWSELALWAYS);
    plainTree.Create(WS_CHILD | WS_VISIBLE, CRect(8, 196, half - 8, 346), &window, 102);
    FillTree(plainTree, true);

    // Coloured tabs in the three paint modes.
    for (int mode = 0; mode < 3; ++mode) {
      const int y = 4 + mode * 58;
      char title[40];
      std::snprintf(title, sizeof title, "Coloured tabs, paint mode %d", mode);
      Title(title, half + 8, y, half - 16);
      tabs[mode].SetPaintMode(mode);
      tabs[mode].Create(WS_CHILD | WS_VISIBLE, CRect(half + 8, y + 18, client.Width() - 8, y + 56), &window, 200 + mode);
      tabs[mode].SetBkgndColor(RGB(0xF7, 0xF3, 0xF7));
      tabs[mode].InsertItem(0, "Device Mapping");
      tabs[mode].InsertItem(1, "Server Log");
      tabs[mode].InsertItem(2, "Upgrade");
      tabs[mode].SetCurSel(1);
    }

    // Shaded buttons: the states on shade type 3, then every shade type.
    Title("Shaded buttons: normal, pressed, hover, disabled, checked, default", half + 8, 180, half - 16);
    const char* states[] = {"Normal", "Pressed", "Hover", "Disabled", "Checked", "Default"};
    const int bw = (half - 16 - 5 * 6) / 6;
    for (int i = 0; i < 6; ++i) {
      auto button = std::make_unique<CShadedButton>();
      DWORD style = WS_CHILD | WS_VISIBLE | (i == 4 ? BS_AUTOCHECKBOX | BS_PUSHLIKE : i == 5 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      const int x = half + 8 + i * (bw + 6);
      button->Create(states[i], style, CRect(x, 198, x + bw, 226), &window, 300 + i);
      button->SetShade(3, 8, 100, 5, 0xB3AEB3);
      buttons.push_back(std::move(button));
    }
    buttons[1]->SendMessage(BM_SETSTATE, TRUE);
    buttons[2]->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    buttons[3]->EnableWindow(FALSE);
    buttons[4]->SendMessage(BM_SETCHECK, BST_CHECKED);
    Title("Shaded buttons: shade types 0 to 9", half + 8, 232, half - 16);
    const int tw = (half - 16 - 4 * 5) / 5;
    for (int type = 0; type < 10; ++type) {
      auto button = std::make_unique<CShadedButton>();
      char text[16];
      std::snprintf(text, sizeof text, "Type %d", type);
      const int x = half + 8 + (type % 5) * (tw + 5), y = 250 + (type / 5) * 32;
      button->Create(text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(x, y, x + tw, y + 28), &window, 320 + type);
      button->SetShade(static_cast<UINT>(type), 8, 20, 5, 0xB3AEB3);
      buttons.push_back(std::move(button));
    }

    // The list with the coloured header, and coloured labels.
    Title("List with coloured header", 8, 352, half - 16);
    list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT, CRect(8, 370, half - 8, 470), &window, 400);
    list.InsertColumn(0, "Server", 0, 150);
    list.InsertColumn(1, "Address", 0, 120);
    list.InsertColumn(2, "Firmware", 0, 100);
    const char* servers[][3] = {{"Office", "192.168.1.20", "2.14"}, {"Lab", "192.168.1.31", "2.11"}, {"Store", "10.0.0.7", "1.98"}};
    for (int r = 0; r < 3; ++r) {
      list.InsertItem(r, servers[r][0]);
      list.SetItemText(r, 1, servers[r][1]);
      list.SetItemText(r, 2, servers[r][2]);
    }
    Title("Coloured labels", 8, 476, half - 16);
    const COLORREF backs[] = {RGB(0xF7, 0xFF, 0xFF), RGB(0x30, 0x30, 0x80), RGB(0xFF, 0xF0, 0xD0)};
    const COLORREF texts[] = {127, RGB(255, 255, 255), RGB(0x80, 0x30, 0)};
    const char* labels[] = {"Upgrade in progress", "Device Mapping started", "Printer Auto Connect"};
    for (int i = 0; i < 3; ++i) {
      const int w = (half - 16 - 12) / 3, x = 8 + i * (w + 6);
      colourLabels[i].Create(labels[i], WS_CHILD | WS_VISIBLE, CRect(x, 494, x + w, 516), &window, 410 + i);
      colourLabels[i].SetBkColor(backs[i]);
      colourLabels[i].SetTextColor(texts[i]);
    }

    // The note panel on a small host of its own (it grows its host).
    Title("Note panel", 8, 522, half - 16);
    noteHost.CreateEx(0, "", WS_CHILD | WS_VISIBLE, 8, 540, half - 16, 40, window.m_hWnd, 0);
    note.SetTitle("Note:");
    note.SetText("A printer in auto-connect mode is connected while its print queue holds a job.");
    note.SetHeight(60);
    note.AttachToWindow(&noteHost);
    note.SetBkColor(0xF7FFFF);

    // The property sheet with coloured tabs.
    Title("Property sheet with coloured tabs", half + 8, 318, half - 16);
    sheet.AddPage(&pageOne);
    sheet.AddPage(&pageTwo);
    sheet.AddPage(&pageThree);
    sheet.Create(&window, WS_CHILD | WS_VISIBLE, half - 16, 150);
    sheet.MoveWindow(half + 8, 336, half - 16, 150);

    // The splitter with its middle column hidden.
    Title("Hiding splitter: three columns, the middle one hidden", half + 8, 492, half - 16);
    splitHost.CreateEx(0, "", WS_CHILD | WS_VISIBLE, half + 8, 510, half - 16, 120, window.m_hWnd, 0);
    split.CreateStatic(&splitHost, 1, 3);
    for (int col = 0; col < 3; ++col) {
      split.CreateView(0, col, RUNTIME_CLASS(PaneView), CSize(140, 120), nullptr);
      char name[16];
      std::snprintf(name, sizeof name, "column %d", col);
      split.CreatedPane(0, col)->SetWindowText(name);
    }
    split.MoveWindow(0, 0, half - 16, 120);
    split.RecalcLayout();
    split.HideColumn(1);

    focusedTree.SetFocus();
    return true;
  }
};

int Usage() {
  std::fprintf(stderr,
               "usage: tavrin-gallery [--png FILE]\n"
               "  shows the controls on the X display (DISPLAY or TAVRIN_DISPLAY=x11);\n"
               "  --png FILE draws them off screen and writes FILE.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string png;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--png") == 0 && i + 1 < argc) png = argv[++i];
    else return Usage();
  }
  if (png.empty() && !tavrin::win::StartDisplayFromEnvironment()) {
    std::fprintf(stderr, "tavrin-gallery: no display (set DISPLAY, or give --png FILE)\n");
    return Usage();
  }
  Gallery gallery;
  if (!gallery.Build()) {
    std::fprintf(stderr, "tavrin-gallery: cannot make the window\n");
    return 1;
  }
  if (!png.empty()) {
    tavrin::win::PaintPending();
    tavrin::draw::Surface image(1, 1);
    if (!tavrin::win::CaptureWindow(gallery.window.m_hWnd, image) || !tavrin::draw::WritePngFile(image, png)) {
      std::fprintf(stderr, "tavrin-gallery: cannot write %s\n", png.c_str());
      return 1;
    }
    std::printf("%s\n", png.c_str());
    gallery.window.DestroyWindow();
    return 0;
  }
  MSG msg;
  while (::GetMessage(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessage(&msg);
  }
  tavrin::win::StopDisplay();
  return 0;
}
