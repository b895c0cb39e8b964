#include "admin/util/UsbVendors.h"

const char* GetUsbVendorName(WORD vid) {
  if (vid == 0) return nullptr;
  for (const USB_VENDOR_ENTRY* entry = g_UsbVendorTable; entry->VendorId != 0; ++entry) {
    if (entry->VendorId == vid) return entry->Name;
  }
  return nullptr;
}
