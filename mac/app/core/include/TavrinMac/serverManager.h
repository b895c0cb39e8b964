// The server manager of TavrinMac without its windows: the list of servers found by discovery, the
// command client of the server protocol, unlock, configuration, firmware upgrade, factory restore,
// client refresh and its log. Its windows (the Server Manager window, search, unlock and configuration
// windows) show the state it holds here and call its actions; it tells them what changed through MacUi.
//
// Most of the work runs in class methods and worker threads that have no object: the program-wide state
// lives in the class. Each road runs one worker with its own autorelease pool and its own connection.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TavrinMac/values.h"
#include "TavrinMac/ui.h"
#include "cocoa/Foundation.h"
#include "zarnet/command.h"

using zarnet::iproduct_string;

// The exchange status of the last command 3, 4, 5 or 6: 1 success, 0 failure (callers clear it first).
extern std::atomic<char> globalStatus;
// The DATA text of the last successful command 4 reply, and its parsed record (handed to the server's
// node by the fetch, which then clears this).
extern NSString* serverConfigDataGlobal;
extern serverdata* serverDataGlobal;
// The DATA text of the last command 6 reply.
extern char cTableGlobal[2048];
// Entries the last connection-table parse found.
extern int devcount;
// The status digit of the last reply read ('0' to '4'; 0 when none came).
extern std::atomic<char> lastStatusGlobal;
// The search state: 0 idle, 1 the receive loop runs, 3 a stop was asked for.
extern std::atomic<int> loop;
// The main window's toolbar items "Search Pelko Servers", "Server Configuration", "Upgrade Firmware".
extern std::atomic<char> searchGlobal, configGlobal, upgradeGlobal;

// The state of the configuration window's controls (the window copies them in and out).
struct ConfigForm {
  std::string informationText;
  std::string basicSettingsText;  // server name
  std::string ipAddressText, subnetMaskText, gatewayText;
  std::string ipConfigText = "DHCP";  // the combo box's text: "DHCP" or "Static"
  bool enablePwd = false;
  std::string newPwdText, confirmPwdText;
  bool modifyBasicSettings = false, modifyIPSettings = false, modifyPwdEnable = false, modifyPwdSet = false;
  bool fieldsEnabled = false;  // the text fields and the combo box
  bool progressShown = false;  // setConfigProgress
  int selectedIndex = -1;
};

// What the other windows of the server manager show.
struct ServerManagerView {
  // The command items (both sets) and refresh.
  bool searchItems = true, unlockItems = false, configItems = false, upgradeItems = false, restoreItems = false;
  bool refreshItem = false;
  std::string statusText;    // configuration text of the chosen server
  std::string clientsText;   // connected clients of the chosen server
  std::string checkingText;  // beside the clients field
  bool checkingShown = false;
  // The search window.
  std::string searchStatusText;
  bool searchProgress = false;
  bool retrieveProgress = false;
  // The unlock window.
  std::string unlockDisplay, unlockText, unlockingText;
  bool unlockTextEnabled = false, unlockOkEnabled = false, unlockCancelEnabled = false, unlockingShown = false;
};

class serverManager : public NSObject {
 public:
  serverManager* init();
  void awakeFromNib();

  // ---- program-wide lists (made by the first serverManager, kept for the run)
  static NSMutableArray* serversArray();  // ServerNode, in arrival order
  static NSMutableArray* logsArray();     // logs
  // Guards both lists and the views' state: readers and writers take it.
  static std::recursive_mutex& lock();
  static ServerManagerView& view();  // under lock()
  static ConfigForm& form();         // under lock()
  // The selected row of the servers table (-1 none); the window sets it.
  static void setSelectedRow(int row);
  static int selectedRow();
  // The server of the selected row, retained (nullptr when none).
  static ServerNode* selectedServer();

  // ---- table data (columns "0" to "4" of the servers and search tables; of the log table)
  static int numberOfServers();
  static std::string serverCellText(const std::string& column, int row);
  static int numberOfLogLines();
  static std::string logCellText(const std::string& column, int row);
  void serversTableClick(id sender);

  // ---- command client
  // Writes one request on the connected socket, reads the reply, closes the socket and handles the reply.
  // A successful command 7 answers the product string (valid until this thread's next command 7).
  static iproduct_string* set_command(int command, const char* data, int socket, const char* address);
  static iproduct_string* read_response(const char* reply, long length, const char* address);
  // Held by a road around its exchange and its reading of the program-wide results.
  static std::recursive_mutex& exchangeLock();

  // ---- discovery
  static void searchServers_class(id sender);
  void searchServers(id sender);
  id stopServerSearch(id sender);
  static void recvServers(int socket);
  static void getAllServerConfigurations_class();

  // ---- unlock
  void unlockAction(id sender);
  static void unlockAction_class(id sender);
  void unlockOkAction(id sender);
  void unlockCancelAction(id sender);
  // The password field's textDidChange: OK is enabled while the text holds more than white space.
  static void unlockTextDidChange(const std::string& text);
  // The worker gets its server and the password (at most 111 bytes, as the password buffer holds).
  static void unlock(ServerNode* server, std::string password);

  // ---- configuration
  static serverdata* add_to_struct(const char* text, int command);
  static void set_data_toFile(const char* text, int number);
  static void serverConfiguration_class(id sender);
  void serverConfiguration(id sender) { serverConfiguration_class(sender); }
  void modifyBSAction(id sender);
  void modifyPwdAction(id sender);
  void modifyNewPwdAction(id sender);
  void modifyIPAddressAction(id sender);
  void serverConfigOkAction(id sender);
  // The worker gets its server, the text to send and the record to store once the server agreed.
  static void setConfiguration(ServerNode* server, std::string text, serverdata changed);

  // ---- firmware upgrade
  static void upgradeFirmware_class(id sender);
  void upgradeFirmware(id sender) { upgradeFirmware_class(sender); }
  static void upgradeFirmwareThread(ServerNode* server, std::string name);

  // ---- restore, client refresh, log
  void restoreFactorySettings(id sender);
  static void restoreThread(ServerNode* server);
  void refreshClientsMenuAction(id sender);
  static void refreshClientsThread(ServerNode* server);
  static int get_cTable(int start, const char* table, conn_table* entries);
  static void logsTable(NSString* method, NSString* description);
  void clearMenuAction(id sender);
  void saveMenuAction(id sender);
  void setNetworkFlag(char value) { networkFlag_ = value; }
  char networkFlag() const { return networkFlag_; }

  // A worker thread of a road; joinWorkers waits for every one started (tests, the end of the program).
  static void StartWorker(std::function<void()> body);
  static void joinWorkers();

  const char* className() const override { return "serverManager"; }

 protected:
  void dealloc() override;

 private:
  std::atomic<char> networkFlag_{0};
};

// 0 when the text is a dotted address of four numbers 0 to 255 (blanks ignored), else 1.
int checkIpFormat(const char* text);

namespace tavrinmac {
// Log lines formatted as printf does, for the server manager's log.
void ServerLog(const char* format, ...);
// Where the configuration copies are written ("TavrinFile%d.txt"): the program's working directory in
// the Mac root.
void SetWorkingDirectory(const std::string& macPath);
std::string WorkingDirectory();
}  // namespace tavrinmac
