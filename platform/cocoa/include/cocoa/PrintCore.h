// The printing system's printer calls. Printers live in files under the Mac root
// (/private/etc/printers/<name>.state holding the state number; /private/etc/printers/default holding
// the default printer's name), so that tests and scripts can add printers and change their state.
#pragma once
#include <cstdint>
#include <string>

#include "cocoa/CoreFoundation.h"

using OSStatus = int32_t;
using PMPrinterState = uint16_t;
using PMServer = void*;
using PMPrinter = NSObject*;

inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus kPMInvalidParameter = -50;
inline constexpr OSStatus kPMInvalidPrinter = -30882;
inline constexpr PMServer kPMServerLocal = nullptr;
inline constexpr PMPrinterState kPMPrinterIdle = 3;
inline constexpr PMPrinterState kPMPrinterProcessing = 4;
inline constexpr PMPrinterState kPMPrinterStopped = 5;

// The printers, by name (one reference to the array for the caller).
OSStatus PMServerCreatePrinterList(PMServer server, CFArrayRef* printerList);
CFStringRef PMPrinterGetName(PMPrinter printer);  // not retained for the caller
Boolean PMPrinterIsDefault(PMPrinter printer);
OSStatus PMPrinterGetState(PMPrinter printer, PMPrinterState* state);

namespace cocoa::printing {

// Adds (or keeps) a printer, idle; false on a file error.
bool AddPrinter(const std::string& name);
bool RemovePrinter(const std::string& name);
bool SetPrinterState(const std::string& name, PMPrinterState state);
bool SetDefaultPrinter(const std::string& name);

}  // namespace cocoa::printing
