// CRegistryStore: every registry access of the administration program (all under HKEY_LOCAL_MACHINE).
// It holds no data: build one on the stack for each use. Nothing throws or shows anything; failures
// are return values and trace lines.
#pragma once
#include "admin/DeviceEntry.h"
#include "admin/PrinterInfo.h"
#include <vector>

#include "mfc/string.h"

class CTavrinAdminDoc;

// What WritePrinterKey stores for a printer.
struct PrinterKeyRecord {
  WORD DevicePort;
  BYTE Class;
  BYTE SubClass;
  BYTE Protocol;
  WORD Rev;
  WORD Pid;
  WORD Vid;
  DWORD DeviceIP;  // network byte order
};

class CRegistryStore {
 public:
  CRegistryStore() = default;
  virtual ~CRegistryStore() = default;

  // TRUE when SOFTWARE\Tavrin opens for reading.
  BOOL IsProductInstalled();
  // Reads SOFTWARE\Tavrin\Parameters into the three settings; a missing value (or key) keeps what the
  // setting holds. Always TRUE.
  BOOL ReadParameters(DWORD& appTraceLevel, DWORD& appGuiRefreshPeriod, DWORD& appStopDeviceMappingPeriod);

  // TRUE only when SOFTWARE\Tavrin\Printers\<name> opens and all six values were read (the values
  // present are filled in either way).
  BOOL GetPrinterInfo(LPCSTR printerName, PrinterInfo& info);
  // Creates SOFTWARE\Tavrin\Printers\<name> with the record's values (AutoReconnect 0). FALSE when a key
  // of that name exists (any letter case) or the key cannot be created.
  BOOL WritePrinterKey(const PrinterKeyRecord& record, LPCSTR printerName);
  // 1 when the printer's key has a nonzero AutoReconnect, else 0.
  DWORD GetAutoReconnect(LPCSTR printerName);
  // Sets a printer key's AutoReconnect (1 or 0) when it reads and differs; TRUE when it was changed.
  BOOL SetAutoReconnect(LPCSTR printerName, DWORD autoReconnect);
  // The names of the keys under SOFTWARE\Tavrin\Printers in their order; empty without that key.
  std::vector<CString> GetPrinterKeyNames();
  BOOL DeletePrinter(LPCSTR printerName);
  // TRUE when no Windows printer of that name exists (any letter case).
  BOOL IsObsoletePrinter(LPCSTR printerName);
  // 1 for a printer-class (7) or vendor-class (255) device whose Windows printer is set to auto-connect.
  BYTE IsAutoConnectDevice(const DeviceEntry& device);
  // The Windows printer that the spooler made for the device's node; FALSE with an empty name.
  BOOL GetPrinterName(const DeviceEntry& device, CString& printerName);

  // Printer auto-connect. Offers every complete printer key of SOFTWARE\Tavrin\Printers to the document's
  // monitors and lists those that have none yet.
  void LoadAutoConnectPrinters(CTavrinAdminDoc& doc);
  // Writes the key of the device's Windows printer (auto-connect off) and lists the printer; FALSE when
  // the device has no Windows printer or its key exists already.
  BOOL AddAutoConnectPrinter(CTavrinAdminDoc& doc, const DeviceEntry& device);

  // The port a plug-and-play instance key name designates: the decimal number after its last "&"
  // ("...&07" is port 7, never port 0 or 70), or -1 when that part is not a number. The device nodes
  // carry their port as their instance identifier, which ends the key name; a composite device's
  // interface nodes are named the same way.
  static int InstancePort(LPCSTR instanceName);

 private:
  BOOL FindDeviceInstancePrefix(const DeviceEntry& device, CString& prefix);
  BOOL FindDot4Prefix(const DeviceEntry& device, const CString& usbPrefix, CString& prefix);
  BOOL FindSpoolerPrinter(const CString& prefix, CString& printerName);
};
