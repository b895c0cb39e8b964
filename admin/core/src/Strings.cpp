#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"

void RegisterAdminStrings() {
  mfc::RegisterStrings({
      {AFX_IDS_APP_TITLE, kAdminAppTitle},
      {IDR_MAINFRAME, "TavrinAdmin\n\nTavrin\n\n\nTavrinAdmin.Document\nTavrin Document"},
      {IDS_DEVICE_REMOVAL_INFORMED, "Informed Device (%s : %d) Removal Notification"},
      {IDS_DEVICE_ARRIVAL_INFORMED, "Informed Device (%s : %d) Arrival Notification."},
      {IDS_CONNECTING_DEVICE, "Informing Redirector to connect the Device."},
      {IDS_DISCONNECTING_DEVICE, "Informing Device Disconnect."},
      {IDS_STOP_MAPPING_QUESTION, "Stopping the Device Mapping functionality. Do you want to continue?"},
      {IDS_REBOOT_QUESTION, "Press OK to Reboot the System OR CANCEL to Reboot Later."},
      {IDS_STOP_MAPPING_BEFORE_EXIT, "Please stop Device Mapping before exitting the application."},
      {IDS_STARTED_MAPPING, "Started Device Mapping Functionality."},
      {IDS_STOPPED_MAPPING, "Stopped the Device Mapping functionality."},
      {IDS_PRINTER_ADDED, "New printer is added to the Printer Auto Connect List."},
      {IDS_SERVER_ARRIVAL_FAILED, "Server (%s) Arrival Notification Failed.!!"},
      {IDS_SERVER_DEPARTURE_FAILED, "Server (%s) Depature Notification Failed.!!"},
      {IDS_SERVER_ARRIVAL_DONE, "Server (%s) Arrival Notification Successful.!!"},
      {IDS_SERVER_DEPARTURE_DONE, "Server (%s) Depature Notification Successful.!!"},
      {IDS_NOT_INSTALLED, "Client software is not installed !!"},
      {IDS_PRINTER_NAME_PROBLEM, "Probelm in getting the printer name from registry."},
      {IDS_DISCONNECT_TIMEOUT, "Time Out!! Couldn't unload all the Devices/Servers!!\n"},
      {IDS_DISCONNECTING_ALL, "Please Wait. Disconnecting all Devices & Servers....\n"},
  });
}
