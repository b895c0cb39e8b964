// The Server Manager's dialogs as a person uses them on the X display: a server chosen in the list, the
// command taken from the menu bar with the keyboard, the dialog's controls clicked and typed into; what
// changed read back from the simulated server and from "tavrin-ctl windows".
#include <fstream>
#include <regex>

#include "admin_gui_fixture.h"
#include "tftp/SharedInfo.h"
#include "win32/sync.h"

namespace admin_gui {
namespace {

constexpr int kConfigured = 94;  // 127.0.0.94: the server whose configuration is changed
constexpr int kUpgraded = 95;    // 127.0.0.95: the server whose firmware is upgraded
constexpr int kRestored = 96;    // 127.0.0.96: the server set back to its factory values
constexpr char kImage[] = "zarnet-update-1.0.0.13.bin";

// Whether the TFTP server program serves (its event exists exactly while it does).
bool TftpServerRuns() {
  HANDLE event = OpenEvent(SYNCHRONIZE, FALSE, tftp::kShutDownEventName);
  if (event) CloseHandle(event);
  return event != nullptr;
}

class ServerDialogsGuiTest : public AdminGuiTest {
 protected:
  // The shown top-level window of that caption.
  bool Dialog(const char* caption, Window* found = nullptr, int ms = 30000) {
    return FindWindow([caption](const Window& w) { return TopLevel(w, caption) && w.visible; }, found, ms);
  }
  // The same once it is on the X screen, where a click reaches it.
  bool DialogOnScreen(const char* caption, Window* found = nullptr) {
    Window dialog;
    if (!Dialog(caption, &dialog)) return false;
    if (found) *found = dialog;
    return Eventually([&] { return OnScreen(dialog.right - dialog.left, dialog.bottom - dialog.top); });
  }
  bool DialogGoes(const char* caption) {
    return Eventually([this, caption] { return !Dialog(caption, nullptr, 10); });
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
    // A double click takes the whole text; the keys typed at once, before a busy program has handled the
    // click, still reach the edit.
    ClickCentre(edit, 2);
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
  // The shown list box entry of that text.
  bool Entry(const std::string& text, Row* found) {
    Window list;
    if (!FindWindow(
            [&](const Window& w) {
              if (w.cls != "ListBox" || !w.visible) return false;
              for (const Row& row : w.rows)
                if (row.cells == text && row.bottom > row.top) return true;
              return false;
            },
            &list))
      return false;
    for (const Row& row : list.rows)
      if (row.cells == text) *found = row;
    return true;
  }
  // Upgrade Firmware from the menu bar, Browse, and the image chosen in the Open dialog by double clicks:
  // up from the Windows folder, into "images", on the file.
  void ChooseImage(const std::string& file) {
    Key(XK_s, XK_Alt_L);
    Key(XK_f);
    ASSERT_TRUE(DialogOnScreen("Select File")) << "no Select File dialog";
    ASSERT_TRUE(ClickControl(1083, "Button"));  // Browse
    ASSERT_TRUE(DialogOnScreen("Open")) << "no Open dialog";
    for (const std::string& entry : {std::string("[..]"), std::string("[images]"), file}) {
      Row row;
      ASSERT_TRUE(Entry(entry, &row)) << "no entry " << entry;
      ClickCentre(row, 2);
    }
    ASSERT_TRUE(DialogGoes("Open"));
    Window path;
    ASSERT_TRUE(FindWindow([](const Window& w) { return w.cls == "Edit" && w.id == 1044 && w.visible; }, &path));
    EXPECT_EQ(path.text, "C:\\images\\" + file);
    Shot("chosen");
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

TEST_F(ServerDialogsGuiTest, FirmwareUpgradeRunsThroughTheStatusDialogAndRefusesImagesThatDoNotFit) {
  const uint16_t tftpPort = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM, "127.0.0.1");
  zarnet::sim::Server& server = StartServer(kUpgraded, [&](zarnet::sim::ServerOptions& options) {
    options.fw_major = 1;
    options.fw_minor = 12;
    options.tftp_port = tftpPort;
    options.restart_delay = std::chrono::milliseconds(20);
  });
  environment_ = {{"TAVRIN_TFTP_ADDRESS", "127.0.0.1"}, {"TAVRIN_TFTP_PORT", std::to_string(tftpPort)},
                  {"TAVRIN_TFTP_TIMEOUT_MS", "200"}};
  fs::copy_file(TFTPSERVER_PROGRAM, tavrin::sysroot::MapPath("C:\\WINDOWS\\TftpServer.exe"),
                fs::copy_options::overwrite_existing);
  fs::create_directories(tavrin::sysroot::MapPath("C:\\images"));
  std::ofstream(tavrin::sysroot::MapPath(std::string("C:\\images\\") + kImage), std::ios::binary)
      << std::string(100 * 1024, 'z');
  std::ofstream(tavrin::sysroot::MapPath("C:\\images\\notes.txt")) << "not an image\n";
  StartAdmin();
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(SelectServer("127.0.0.95", 2));

  // Transfer: the status dialog names the file and follows the server to its result; OK ends it all.
  ASSERT_NO_FATAL_FAILURE(ChooseImage(kImage));
  ASSERT_TRUE(ClickControl(1046, "Button"));  // Transfer
  ASSERT_TRUE(DialogOnScreen("Firmware Upgrade Status")) << "no status dialog";
  EXPECT_TRUE(FindWindow([](const Window& w) { return w.id == 1087 && w.text == std::string("Uploading file : ") + kImage; },
                         nullptr));
  EXPECT_TRUE(TftpServerRuns()) << "no TFTP server while the status shows";
  Shot("status");
  Window ok;
  ASSERT_TRUE(Control(1096, "Button", &ok, 60000)) << "OK does not show";
  Window rows;
  ASSERT_TRUE(FindWindow([](const Window& w) { return w.id == 1085 && w.visible && w.rows.size() == 1; }, &rows));
  // The hidden percent column follows the dialog's half-second tick, which a quick upgrade may outrun.
  EXPECT_TRUE(std::regex_match(rows.rows[0].cells, std::regex(R"(1\|127\.0\.0\.95\|(0%|Uploaded - \d+%)\|Upgrade Successful)")))
      << rows.rows[0].cells;
  EXPECT_EQ(server.configuration().fw_version, "1.0.0.13");
  Shot("done");
  ClickCentre(ok);
  EXPECT_TRUE(DialogGoes("Firmware Upgrade Status"));
  EXPECT_TRUE(DialogGoes("Select File"));
  EXPECT_TRUE(Eventually([] { return !TftpServerRuns(); })) << "the TFTP server stays";

  // Found again at its new version, the same image is refused, and so is a file that is no image; the
  // TFTP server never starts.
  ASSERT_NO_FATAL_FAILURE(SelectServer("127.0.0.95", 2));
  struct Case {
    const char* file;
    const char* refusal;
  } cases[] = {{kImage, "Same FW available on board, update not required !!"},
               {"notes.txt", "This is not a valid FW image. Please select a correct file !!"}};
  for (const Case& each : cases) {
    SCOPED_TRACE(each.file);
    ASSERT_NO_FATAL_FAILURE(ChooseImage(each.file));
    ASSERT_TRUE(ClickControl(1046, "Button"));
    EXPECT_TRUE(Answered(each.refusal));
    EXPECT_TRUE(DialogGoes("Select File"));
    EXPECT_FALSE(TftpServerRuns());
    EXPECT_FALSE(Dialog("Firmware Upgrade Status", nullptr, 10));
  }
  EXPECT_EQ(server.restarts(), 1);
}

TEST_F(ServerDialogsGuiTest, FactoryDefaultsAreRestoredAfterTheQuestionBehindTheWaitWindow) {
  zarnet::sim::Server& server = StartServer(kRestored, [](zarnet::sim::ServerOptions& options) {
    options.restart_delay = std::chrono::milliseconds(20);
  });
  StartAdmin();
  ShowFrame();
  ASSERT_NO_FATAL_FAILURE(SelectServer("127.0.0.96", 2));

  // Cancel on the question sends nothing; OK restores.
  for (const bool restore : {false, true}) {
    SCOPED_TRACE(restore ? "OK" : "Cancel");
    Key(XK_s, XK_Alt_L);  // Server Manager > Restore Factory Defaults
    Key(XK_r);
    const std::string question = "Restoring factory default values. Do you want to continue?";
    ASSERT_TRUE(Eventually([&] { return BoxShows(question); })) << "no question";
    Shot("question");
    Key(restore ? XK_Return : XK_Escape);
    ASSERT_TRUE(Eventually([&] { return !BoxShows(question); }));
    if (restore) {
      EXPECT_TRUE(Answered("Restore factory default values successful !!"));
    } else {
      EXPECT_EQ(server.restarts(), 0);
    }
  }
  EXPECT_TRUE(server.WaitUntil([&] { return server.restarts() == 1; }, std::chrono::seconds(30))) << server.restarts();
  EXPECT_FALSE(FindWindow([](const Window& w) { return w.text == "Please Wait..." && w.visible; }, nullptr, 10))
      << "the wait window stays";
}

}  // namespace
}  // namespace admin_gui
