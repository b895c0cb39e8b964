// The built-in table of USB vendor names, sorted by vendor ID and ended by an entry with vendor ID 0.
#pragma once
#include <cstddef>

#include "wincommon/types.h"

struct USB_VENDOR_ENTRY {
  WORD VendorId;
  const char* Name;
};

extern const USB_VENDOR_ENTRY g_UsbVendorTable[];
// Vendors in the table, the end entry not counted.
extern const size_t g_UsbVendorCount;

// The vendor's name, or null for vendor ID 0 and for a vendor the table does not list.
const char* GetUsbVendorName(WORD vid);
