// The Server Manager's dialogs as a person uses them on the X display: a server chosen in the list, the
// command taken from the menu bar with the keyboard, the dialog's controls clicked and typed into; what
// changed read back from the simulated server and from "tavrin-ctl windows".
#include "admin_gui_fixture.h"

namespace admin_gui {
namespace {

constexpr int kConfigured = 94;  // 127.0.0.94: the server whose configuration is changed

class ServerDialogsGuiTest : public AdminGuiTest {
 protected:
  // The shown top-level window of that caption.
  static bool Dialog(const char* caption, Window* found = nullptr, int ms = 10000) {
    return FindWindow([caption](const Window& w) { return TopLevel(w, caption) && w.visible; }, found, ms);
  }
  // The same once it is on the X screen, where a click reaches it.
  bool DialogOnScreen(const char* caption, Window* found = nullptr) {
    Window dialog;
    if (!Dialog(caption, &dialog)) return false;
    if (found) *found = dialog;
    return Eventually([&] { return OnScreen(dialog.right - dialog.left, dialog.bottom - dialog.top); });
  }
  static bool DialogGoes(const char* caption) {
    return Eventually([caption] { return !Dialog(caption, nullptr, 10); });
  }
  // Server Manager > Server Configuration, from the keyboard; the dialog once it shows.
  void OpenConfiguration() {
    Key(XK_s, XK_Alt_L);
    Key(XK_c);
    ASSERT_TRUE(DialogOnScreen("Server Configuration")) << "the dialog does not show";
  }
  // Basic Settings: Modify ticked, the name's whole text replaced by `name`.
  void NewName(const std::string& name) {
    ASSERT_TRUE(ClickControl(1074, "Button"));
    Window edit;
    ASSERT_TRUE(Control(1071, "Edit", &edit)) << "the name stays disabled";
    ClickCentre(edit, 2);  // a double click takes the whole text
    Type(name);
    ASSERT_TRUE(Eventually([&] { return Control(1071, "Edit", &edit, 10) && edit.text == name; })) << edit.text;
  }
  // A click on the property sheet's tab of that caption; returns once its page shows.
  void ClickTab(const std::string& caption) {
    Window tabs;
    ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "SysTabControl32" && w.visible && w.id == 12320; }, &tabs));
    const Row* tab = nullptr;
    for (const Row& row : tabs.rows)
      if (row.cells == caption) tab = &row;
    ASSERT_NE(tab, nullptr) << "no tab " << caption;
    ClickCentre(*tab);
    ASSERT_TRUE(FindWindow([&](const Window& w) { return w.cls == "#32770" && w.text == caption && w.visible; }, nullptr));
  }
  // A message box's text: it shows, and Enter closes it.
  ::testing::AssertionResult Answered(const std::string& text) {
    if (!Eventually([&] { return BoxShows(text); })) return ::testing::AssertionFailure() << "no box \"" << text << "\"";
    Shot("box");
    Key(XK_Return);
    if (!Eventually([&] { return !BoxShows(text); })) return ::testing::AssertionFailure() << "the box stays";
    return ::testing::AssertionSuccess();
  }
};

TEST_F(ServerDialogsGuiTest, ConfigurationShowsTheServersValuesRefusesAnUnfinishedAddressAndSavesANewName) {
  zarnet::sim::Server& server = StartServer(kConfigured, [](zarnet::sim::ServerOptions& options) {
    options.name = "bench";
    options.gate_way = "127.0.0.254";
  });
  StartAdmin();
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(SelectServer("127.0.0.94", 2));

  // The sheet shows once the server's values are in: its name, and its address on the IP page.
  OpenConfiguration();
  Window name, mac;
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "Edit" && w.id == 1071 && w.visible; }, &name));
  EXPECT_EQ(name.text, "bench");
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "Static" && w.id == 1071; }, &mac));
  EXPECT_EQ(mac.text, server.configuration().mac_addr);
  Shot("basic");
  ASSERT_NO_FATAL_FAILURE(NewName("lab2"));

  // An address with a field emptied: the message, and nothing changes on the server.
  ASSERT_NO_FATAL_FAILURE(ClickTab("IP Settings"));
  ASSERT_TRUE(ClickControl(1067, "Button"));  // Modify
  Window address;
  ASSERT_TRUE(Control(1041, "SysIPAddress32", &address)) << "the address stays disabled";
  EXPECT_EQ(address.text, "127.0.0.94");
  Click(address.right - 6, address.CentreY());  // the last field
  Key(XK_Delete);
  Shot("address-emptied");
  ASSERT_TRUE(ClickControl(1069, "Button"));  // Save
  EXPECT_TRUE(Answered("Enter IP address."));
  EXPECT_TRUE(Dialog("Server Configuration")) << "the dialog went";
  EXPECT_EQ(server.configuration().server_name, "bench");
  ASSERT_TRUE(ClickControl(1068, "Button"));  // Cancel
  ASSERT_TRUE(DialogGoes("Server Configuration"));

  // The new name alone, saved: the program's word, and the server holds it.
  OpenConfiguration();
  ASSERT_NO_FATAL_FAILURE(NewName("lab2"));
  ASSERT_TRUE(ClickControl(1069, "Button"));
  EXPECT_TRUE(Answered("Server  ( 127.0.0.94 ) configuration saved successfully !!"));
  EXPECT_TRUE(DialogGoes("Server Configuration"));
  EXPECT_TRUE(server.WaitUntil([&] { return server.configuration().server_name == "lab2"; }, std::chrono::seconds(30)))
      << server.configuration().server_name;
}

}  // namespace
}  // namespace admin_gui
