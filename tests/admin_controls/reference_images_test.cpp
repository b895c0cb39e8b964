// Whole controls against reference pictures (TAVRIN_UPDATE_REFERENCE=1 rewrites them): the tree list with
// grid and selection, coloured tabs in both drawn modes, shaded buttons in their states, a note panel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "controls/colored_tabs.h"
#include "controls/note_panel.h"
#include "controls/shaded_button.h"
#include "controls/tree_ctrl.h"
#include "draw/png.h"
#include "reference_image.h"

namespace {

struct Host {
  CWnd wnd;
  // Its own paint leaves the controls' pixels alone: they paint only what changed.
  Host(int width, int height) {
    EXPECT_TRUE(wnd.CreateEx(0, "host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width, height, nullptr, 0));
  }
  tavrin::draw::Surface Render() const { return tavrin::test::RenderWindow(wnd.m_hWnd); }
};

TEST(ReferenceImages, TreeWithGridAndSelection) {
  Host host(420, 170);
  COXTreeCtrl tree;
  tree.ModifyExStyle(0, 0x00100000 | 0x00200000 | 0x00400000 | 0x00800000);
  ASSERT_TRUE(tree.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 420, 170), &host.wnd, 7));
  tree.ModifyStyle(0, TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS);
  tree.SetHorizontalGridColor(RGB(192, 192, 192));
  tree.SetVerticalGridColor(RGB(192, 192, 192));
  HDITEM heading{};
  heading.mask = HDI_TEXT;
  heading.pszText = const_cast<LPSTR>("Device Info");
  tree.GetHeaderCtrl()->SetItem(0, &heading);
  tree.SendMessage(LVM_SETCOLUMNWIDTH, 0, 160);
  tree.InsertColumn(1, "Port", 0, 50);
  tree.InsertColumn(2, "Class", 2, 90);
  tree.InsertColumn(3, "Status", 1, 110);
  HTREEITEM server = tree.InsertItem("Server 10.0.0.7");
  HTREEITEM hub = tree.InsertItem("USB hub", server);
  HTREEITEM printer = tree.InsertItem("Office printer", hub);
  HTREEITEM disk = tree.InsertItem("Disk", hub);
  HTREEITEM camera = tree.InsertItem("Camera", server);
  HTREEITEM other = tree.InsertItem("Server 10.0.0.9");
  tree.InsertItem("Scanner", other);
  struct Cells {
    HTREEITEM item;
    const char *port, *cls, *status;
  } cells[] = {{hub, "1", "Hub", "Free"},
               {printer, "2", "Printer", "Connected"},
               {disk, "3", "Mass storage", "Free"},
               {camera, "4", "Video", "Loading..."}};
  for (const Cells& c : cells) {
    tree.SetSubItem(c.item, 1, COXTreeCell::kText, c.port);
    tree.SetSubItem(c.item, 2, COXTreeCell::kText, c.cls);
    tree.SetSubItem(c.item, 3, COXTreeCell::kText, c.status);
  }
  tree.SetItemColor(printer, RGB(0, 128, 0), 3);
  tree.Expand(server, TVE_EXPAND);
  tree.Expand(hub, TVE_EXPAND);
  tree.SetFocus();
  tree.SelectItem(disk);
  EXPECT_TRUE(tavrin::test::MatchesReference(host.Render(), TAVRIN_REFERENCE_DIR "/tree_grid_selection.png"));
}

TEST(ReferenceImages, ColouredTabsInBothDrawnModes) {
  Host host(420, 160);
  CColoredTabCtrl first, second;
  first.SetPaintMode(1);
  second.SetPaintMode(2);
  ASSERT_TRUE(first.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 420, 80), &host.wnd, 1));
  ASSERT_TRUE(second.Create(WS_CHILD | WS_VISIBLE, CRect(0, 80, 420, 160), &host.wnd, 2));
  for (CColoredTabCtrl* tabs : {&first, &second}) {
    tabs->SetBkgndColor(RGB(0xF7, 0xF3, 0xF7));
    tabs->InsertItem(0, "Device Mapping");
    tabs->InsertItem(1, "Server Log");
    tabs->InsertItem(2, "Upgrade");
    tabs->SetCurSel(1);
  }
  EXPECT_TRUE(tavrin::test::MatchesReference(host.Render(), TAVRIN_REFERENCE_DIR "/tabs_modes_1_2.png"));
}

TEST(ReferenceImages, ShadedButtonsInTheirStates) {
  Host host(400, 80);
  CShadedButton normal, pressed, hover, disabled, focused, flat;
  struct Place {
    CShadedButton* button;
    const char* text;
    int x, y;
  } places[] = {{&normal, "Normal", 5, 5},     {&pressed, "Pressed", 135, 5}, {&hover, "Hover", 265, 5},
                {&disabled, "Disabled", 5, 45}, {&focused, "Focus", 135, 45},  {&flat, "Type 7", 265, 45}};
  for (const Place& p : places) {
    ASSERT_TRUE(p.button->Create(p.text, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, CRect(p.x, p.y, p.x + 125, p.y + 30), &host.wnd, 1));
    p.button->SetShade(p.button == &flat ? 7 : 3, 8, 100, 5, 0xB3AEB3);
  }
  pressed.SendMessage(BM_SETSTATE, TRUE);
  hover.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  disabled.EnableWindow(FALSE);
  focused.SetFocus();
  EXPECT_TRUE(tavrin::test::MatchesReference(host.Render(), TAVRIN_REFERENCE_DIR "/shaded_buttons.png"));
}

TEST(ReferenceImages, NotePanel) {
  Host host(360, 90);
  CNotePanel panel;
  panel.SetTitle("Note:");
  panel.SetText("Printers in auto-connect mode are connected while their print queue holds a job.");
  panel.SetHeight(60);
  panel.AttachToWindow(&host.wnd);
  panel.SetBkColor(0xF7FFFF);
  EXPECT_TRUE(tavrin::test::MatchesReference(host.Render(), TAVRIN_REFERENCE_DIR "/note_panel.png"));
}

}  // namespace

namespace {

TEST(ReferenceImages, AMismatchBeyondTheToleranceFailsAndLeavesADiff) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("tavrin-reference-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  tavrin::draw::Surface reference(8, 4, 0xFF808080);
  const std::string path = (folder / "probe.png").string();
  ASSERT_TRUE(tavrin::draw::WritePngFile(reference, path));
  tavrin::draw::Surface near = reference;
  near.set(1, 1, 0xFF828080);
  EXPECT_TRUE(tavrin::test::MatchesReference(near, path, 2));
  near.set(2, 2, 0xFF808090);
  auto result = tavrin::test::MatchesReference(near, path, 2);
  EXPECT_FALSE(result);
  EXPECT_NE(std::string(result.message()).find("1 pixels differ"), std::string::npos) << result.message();
  const fs::path diff = fs::read_symlink("/proc/self/exe").parent_path() / "probe.diff.png";
  auto pixels = tavrin::draw::ReadPngFile(diff.string());
  ASSERT_TRUE(pixels.has_value());
  EXPECT_EQ(pixels->at(2, 2) & 0xFFFFFF, 0xFF0000u);
  EXPECT_NE(pixels->at(1, 1) & 0xFFFFFF, 0xFF0000u);
  EXPECT_FALSE(tavrin::test::MatchesReference(tavrin::draw::Surface(4, 4), path)) << "another size";
  fs::remove(diff);
  fs::remove(diff.parent_path() / "probe.actual.png");
  fs::remove_all(folder);
}

}  // namespace
