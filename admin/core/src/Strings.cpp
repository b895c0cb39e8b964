#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"

void RegisterAdminStrings() {
  mfc::RegisterStrings({
      {AFX_IDS_APP_TITLE, kAdminAppTitle},
      {IDR_MAINFRAME, "TavrinAdmin\n\nTavrin\n\n\nTavrinAdmin.Document\nTavrin Document"},
      {IDS_STOP_MAPPING_QUESTION, "Stopping the Device Mapping functionality. Do you want to continue?"},
      {IDS_REBOOT_QUESTION, "Press OK to Reboot the System OR CANCEL to Reboot Later."},
      {IDS_STOP_MAPPING_BEFORE_EXIT, "Please stop Device Mapping before exitting the application."},
      {IDS_STARTED_MAPPING, "Started Device Mapping Functionality."},
      {IDS_STOPPED_MAPPING, "Stopped the Device Mapping functionality."},
      {IDS_PRINTER_ADDED, "New printer is added to the Printer Auto Connect List."},
      {IDS_NOT_INSTALLED, "Client software is not installed !!"},
      {IDS_PRINTER_NAME_PROBLEM, "Probelm in getting the printer name from registry."},
  });
}
