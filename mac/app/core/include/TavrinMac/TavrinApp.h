// Device mapping of TavrinMac without its windows: the tree of servers and their USB devices built from
// the servers' device-list broadcasts, the product strings, the presence check and the network-down
// report, connect, disconnect, START and STOP through the framework's driver client, the Device Mapping
// log and the rules that enable the toolbar items. The main window shows what it holds (the outline data
// below) and calls its actions; it tells the window what changed through MacUi.
//
// Threads: the polling thread, the presence check, one product-string thread per new device, one thread
// per connect or disconnect, the disconnect-all thread of STOP, and the alarm, a timer thread that runs
// the network-down report and the second half of START and STOP (never a signal handler). Every list is
// changed and read under its lock; views are told through MacUi, which hands them to the main thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PelkoFramework/Node.h"
#include "PelkoFramework/Sockets_Obj.h"
#include "PelkoFramework/deviceInterface.h"
#include "TavrinMac/serverManager.h"
#include "TavrinMac/ui.h"
#include "TavrinMac/values.h"
#include "cocoa/Foundation.h"

namespace tavrinmac {

// The program's delays, in milliseconds (tests shorten them).
struct Timings {
  int networkTimeout = 10000;     // no device list for this long: the network is down
  int presencePeriod = 10000;     // a server silent for a whole period has shut down
  int presenceFirst = 5000;       // before the presence check's first period
  int startStopStep = 4000;       // START and STOP do their second half after this
  int startStopSettle = 2000;     // and wait this long within it
  int disconnectAllFirst = 1000;  // STOP's disconnect-all: before the first request
  int disconnectAllEach = 3000;   // and after each
  int noSocketRetry = 1000;       // the polling thread without a socket waits this long a turn
};

// One timer whose new arming replaces the previous one, as alarm() did; the handler runs on the timer's
// own thread.
class Alarm {
 public:
  Alarm();
  ~Alarm();
  void Arm(int ms, std::function<void()> handler);
  // Disarms it; with wait, also waits for a handler that runs now (not from the handler itself).
  void Cancel(bool wait = false);

 private:
  void Run();
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> handler_;
  std::chrono::steady_clock::time_point due_;
  bool armed_ = false;
  bool stopping_ = false;
  bool running_ = false;
  uint64_t generation_ = 0;
  std::thread thread_;
};

}  // namespace tavrinmac

// The hand-over from the polling thread to a product-string thread.
struct ProductRequest {
  int16_t port;
  char address[16];
};

class TavrinApp : public NSObject {
 public:
  TavrinApp* init();
  // The set-up: lists, locks, the driver, and the polling and presence-check threads.
  void awakeFromNib();
  // Ends every thread of the controller (quitting, tests). The driver is closed when it was opened.
  void shutdown();
  // The controller the class methods and threads work on (the last one set up).
  static TavrinApp* current();
  void setTimings(const tavrinmac::Timings& timings) { timings_ = timings; }
  // The server manager (serverManagerFlag), told whether the network is up; retained.
  void setServerManager(serverManager* manager);

  // ---- outline data (items are Node; null is the root)
  int outlineView_numberOfChildrenOfItem(Node* item);
  Node* outlineView_child_ofItem(int index, Node* item);  // not retained: valid until the next change
  BOOL outlineView_isItemExpandable(Node* item);
  // Texts of columns "1", "2", "3", "5" and the image names of "0" and "4" ("" for none).
  std::string cellText(const std::string& column, Node* item);
  // The tree's selection (the window sets it; retained here; null for none) and its details.
  void setSelectedNode(Node* node);
  Node* selectedNode();  // retained, or null
  void outlineViewSelectionDidChange(id notification);
  std::string statusText();

  // ---- the action flags
  std::atomic<char> showConnect{0}, showDisConnect{0}, showRefresh{1}, showStart{0}, showStop{1},
      showToolbarItems{0};
  void applyDeviceActionRule(int state, int slot);
  // "Connect", "DisConnect", "START", "STOP", "Refresh", "Search Pelko Servers", "Server Configuration",
  // "Upgrade Firmware": enabled or not.
  BOOL validateToolbarItem(const std::string& identifier);
  bool menuConnectEnabled() const { return menuConnect_; }
  bool menuDisConnectEnabled() const { return menuDisConnect_; }

  // ---- the Device Mapping log
  static void logTable_class(NSString* method, NSString* description);
  void logTable(NSString* method, NSString* description) { logTable_class(method, description); }
  int numberOfRowsInTableView();
  std::string logCellText(const std::string& column, int row);
  void RemItem(id sender);
  void saveLogToFile(id sender);
  // Quitting: refused with the alert while this Mac holds devices; otherwise true (the caller exits).
  bool exitApplication(id sender);

  // ---- polling (device lists, presence, product strings)
  void polling();
  // -2 unchanged, -1 a new server, i the position of a changed server.
  int checkAndReplaceServer(NSString* sender, NSMutableArray* servers, pelko_dev_info* datagram, int entries);
  void refreshTables();
  void networkDown();
  static void networkUp_class();
  void getStringOfDevice(ProductRequest request);
  NSString* stringOfProduct(uint16_t port, const char* address);         // "Unknown Device" when none
  NSString* displayStringOfProduct(uint16_t port, const char* address);  // null when none
  static const char* getDeviceString(const __dev_info__* info);
  static const char* getDeviceImage(const __dev_info__* info);  // "" for none
  int indexOfDeviceRemoved(int16_t pid, int16_t vid, int16_t port, NSString* address);

  // ---- connect and disconnect
  void connectThread(id sender);
  void disconnectThread(id sender);
  void connectDevice(id sender);
  void disConnectDevice(id sender);
  void startRun(id sender);
  void stopRun(id sender);
  int indexOfDevice(int16_t pid, int16_t vid, int16_t port, NSString* address);
  int checkIndexToConnect(int slot);
  DeviceIndex* deviceNodeAtIndex(int slot);  // retained, or null
  int disableDeviceWithIndex(int slot);
  int disconnectDeviceWithIndex(int slot);
  int disconnectAllDevices();
  void waiting();
  void replaceDeviceAtIndexes(int server, int device, int state, Node* unused);
  static void refreshItem_class(id sender);

  // ---- for the windows and tests
  std::atomic<char> TavrinThread{1};
  std::atomic<int> networkFlag{0};
  std::atomic<char> refreshYes{0};
  int connectedCount();
  int serverCount();
  // The device node on that port of that server in the tree now, retained; null when there is none.
  Node* deviceNode(const std::string& address, int port);
  bool mappingBusy() const { return pendingStep_; }  // a START or STOP step waits
  bool treeShown() const { return treeShown_; }
  bool networkImageDown() const { return networkDownShown_; }
  deviceInterface* driverObj() const { return driverObj_; }
  // Waits until every connect, disconnect and product-string thread started so far has ended.
  void joinWorkers();

  const char* className() const override { return "TavrinApp"; }

 protected:
  void dealloc() override;

 private:
  struct Lists;
  void StartWorker(std::function<void()> body);
  void StartPolling();
  void EndPolling();
  void Log(const char* method, const std::string& description);
  // The device node of the selection, retained, when it is one with a device record.
  Node* SelectedDevice();
  bool OpenDriverIfNeeded();
  // The selected row for a request: 1 a device (its record, state and server address copied), 0 a row
  // that is none, -1 no row (said in the log under the method's name).
  int SelectionForRequest(const char* method, __dev_info__& info, int& state, NSString*& address);
  // The action flags after an accepted connect (the device may now be disconnected) or disconnect.
  void ShowRequestDone(bool connected);
  void FillRequest(devReqStruct& request, const __dev_info__& info, NSString* address, int type, int slot);
  // Sends one request block to the driver: 1 accepted.
  char Send(const devReqStruct& request);
  void EmptyTree();
  void RebuildListArray();  // under serverArrayLock_
  // A rebuilt server node takes the place of the old one in the selection too (under serverArrayLock_).
  void Reselect(Node* old, Node* rebuilt);
  // The state of the device node of that address and port in the tree, wherever it is now.
  void SetDeviceState(NSString* address, int port, int state);
  // Waits for the stop of the controller or the time; false when stopping.
  bool Pause(int ms);
  struct Unplugged {
    int16_t pid, vid, port;
    std::string address;
  };
  void ReleaseDevices(const std::vector<Unplugged>& devices);

  tavrinmac::Timings timings_;
  tavrinmac::Alarm alarm_;
  deviceInterface* driverObj_ = nullptr;
  std::atomic<serverManager*> serverManagerFlag_{nullptr};

  NSMutableArray* serverArray_ = nullptr;
  NSMutableArray* deviceArray_ = nullptr;
  NSMutableArray* listArray_ = nullptr;
  NSMutableArray* arrayForCheck_ = nullptr;
  NSMutableArray* indexes_ = nullptr;
  NSMutableArray* connectIndexes_ = nullptr;
  NSMutableArray* stringArray_ = nullptr;
  NSMutableArray* logArray_ = nullptr;
  int rootCount_ = 0, deviceCount_ = 0;

  std::recursive_mutex serverArrayLock_;  // serverArray, deviceArray, listArray, arrayForCheck, the nodes
  std::mutex indexFlag_;                  // indexes
  std::recursive_mutex connectLock_;      // connectIndexes, and one connect or disconnect at a time
  std::mutex stringLock_;                 // stringArray
  std::mutex getStringLock_;              // one product-string fetch at a time
  std::mutex logLock_;                    // logArray
  std::mutex theLock_;                    // the hand-over to a product-string thread
  std::condition_variable copied_;
  bool handedOver_ = false;
  std::mutex selectionLock_;
  Node* selected_ = nullptr;
  std::string statusText_;

  std::mutex pollingLock_;
  std::thread pollingThread_;
  std::thread presenceThread_;
  std::mutex stopLock_;
  std::condition_variable stopChanged_;
  bool stopping_ = false;
  tavrinmac::Workers workers_;

  std::atomic<bool> menuConnect_{false}, menuDisConnect_{false};
  std::atomic<bool> pendingStep_{false}, treeShown_{true}, networkDownShown_{false};
};
