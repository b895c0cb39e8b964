// The windows the frame's menus open beside the Server Manager's, as a person uses them on the X display:
// Printer Auto Connect, whose ticks reach the registry, and the settings library's own dialog.
#include <cstring>
#include <optional>

#include "admin_gui_fixture.h"
#include "win32/registry.h"

namespace admin_gui {
namespace {

class FrameDialogsGuiTest : public AdminGuiTest {
 protected:
  // The shown top-level window of that caption, once it is on the X screen where a click reaches it.
  bool DialogOnScreen(const char* caption, Window* found = nullptr) {
    Window dialog;
    if (!FindWindow([caption](const Window& w) { return TopLevel(w, caption) && w.visible; }, &dialog))
      return false;
    if (found) *found = dialog;
    return Eventually([&] { return OnScreen(dialog.right - dialog.left, dialog.bottom - dialog.top); });
  }
  bool DialogGoes(const char* caption) {
    return Eventually([&] {
      return !FindWindow([caption](const Window& w) { return TopLevel(w, caption) && w.visible; }, nullptr, 10);
    });
  }
  // The frame's menu bar takes the keys once a click on the status bar gave it the focus.
  void FocusFrame() {
    Window status;
    ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "msctls_statusbar32" && w.visible; }, &status));
    Click(status.left + 10, status.CentreY());
  }
  // The printer's saved auto-connect value; nullopt while it has none.
  static std::optional<DWORD> AutoReconnect() {
    const auto value = tavrin::registry::ReadValue(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Tavrin\\Printers\\") + kPrinterName,
                                                   "AutoReconnect");
    if (!value || value->size() != sizeof(DWORD)) return std::nullopt;
    DWORD number = 0;
    memcpy(&number, value->data(), sizeof number);
    return number;
  }
  // Device Mapping > Printer Auto Connect; the printer's box clicked, then Save.
  void ClickThePrintersBoxAndSave() {
    Key(XK_d, XK_Alt_L);
    Key(XK_p);
    ASSERT_TRUE(DialogOnScreen("Printer AutoConnect")) << "the dialog does not show";
    Shot("auto-connect");
    Window list;
    ASSERT_TRUE(FindWindow(
        [](const Window& w) {
          return w.id == 1030 && w.visible && w.rows.size() == 1 && HasCell(w.rows[0], kPrinterName) &&
                 HasCell(w.rows[0], "127.0.0.91");
        },
        &list))
        << "the printer is not listed:\n" << Listing();
    const Row& printer = list.rows[0];
    Click(printer.left + 8, (printer.top + printer.bottom) / 2);  // its box, left of its name
    ASSERT_TRUE(ClickControl(1058, "Button"));                     // Save
    ASSERT_TRUE(DialogGoes("Printer AutoConnect")) << "Save leaves the dialog open";
  }
};

// A tick saved turns the printer's auto-connect on; the box clicked again and saved turns it off.
TEST_F(FrameDialogsGuiTest, PrinterAutoConnectTicksAreSavedForThePrinter) {
  // The office's printer as an earlier connect left it set up: on port 1 of 127.0.0.91, not connecting
  // by itself.
  const std::string key = std::string("SOFTWARE\\Tavrin\\Printers\\") + kPrinterName;
  const DWORD office = 127u | (static_cast<DWORD>(kOffice) << 24);  // 127.0.0.91 as the address's bytes
  const WORD vid = 0x03F0, pid = 0x2B17, rev = 0x0100;
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, key, "DeviceIP", office), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, key, "DevicePort", 1), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetValue(HKEY_LOCAL_MACHINE, key, "Rev", REG_BINARY, &rev, 2), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetValue(HKEY_LOCAL_MACHINE, key, "Pid", REG_BINARY, &pid, 2), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetValue(HKEY_LOCAL_MACHINE, key, "Vid", REG_BINARY, &vid, 2), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, key, "AutoReconnect", 0), ERROR_SUCCESS);
  StartAdmin();
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(StartMappingFromTheMenu());  // the servers in view first, as a person has them
  ASSERT_TRUE(FindWindow(
      [](const Window& w) {
        for (const Row& row : w.rows)
          if (w.visible && row.cells.find(kPrinterName) != std::string::npos) return true;
        return false;
      },
      nullptr))
      << "the printer is not served";

  ASSERT_NO_FATAL_FAILURE(ClickThePrintersBoxAndSave());
  EXPECT_TRUE(Eventually([] { return AutoReconnect() == 1u; })) << "the tick is not saved";

  ASSERT_NO_FATAL_FAILURE(FocusFrame());
  ASSERT_NO_FATAL_FAILURE(ClickThePrintersBoxAndSave());
  EXPECT_TRUE(Eventually([] { return AutoReconnect() == 0u; })) << "the untick is not saved";
}

// File > Settings shows the settings library's own dialog; its OK returns to the frame.
TEST_F(FrameDialogsGuiTest, SettingsShowTheLibrarysDialogAndItsOkReturnsToTheFrame) {
  fs::copy_file(PELKOSETTINGS_DLL, tavrin::sysroot::MapPath("C:\\WINDOWS\\PelkoSettings.dll"),
                fs::copy_options::overwrite_existing);
  StartAdmin();
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(FocusFrame());
  Key(XK_f, XK_Alt_L);
  Key(XK_s);
  ASSERT_TRUE(DialogOnScreen("Pelko Settings")) << "no settings window";
  EXPECT_TRUE(FindWindow([](const Window& w) { return w.text.rfind("Pelko USB server client settings.", 0) == 0; }, nullptr));
  Shot("settings");
  ASSERT_TRUE(ClickControl(1, "Button"));  // OK
  EXPECT_TRUE(DialogGoes("Pelko Settings")) << "OK leaves it open";
  EXPECT_TRUE(Eventually([&] { return Frame().visible && Frame().enabled; })) << "the frame stays disabled";
  EXPECT_EQ(WaitAdmin(0), -1) << "the program ended";
}

}  // namespace
}  // namespace admin_gui
