// Resource numbers of TavrinAdmin: strings, the document template, icons and menu commands.
#pragma once
#include "mfc/resource.h"

constexpr UINT IDR_MAINFRAME = 128;  // document template string, application icon

constexpr UINT IDS_STOP_MAPPING_QUESTION = 1007;
constexpr UINT IDS_REBOOT_QUESTION = 1008;
constexpr UINT IDS_STOP_MAPPING_BEFORE_EXIT = 1009;
constexpr UINT IDS_STARTED_MAPPING = 1010;
constexpr UINT IDS_STOPPED_MAPPING = 1011;
constexpr UINT IDS_PRINTER_ADDED = 1013;
constexpr UINT IDS_NOT_INSTALLED = 2004;
constexpr UINT IDS_PRINTER_NAME_PROBLEM = 2005;

constexpr UINT ID_START_DEVICE_MAPPING = 32866;
constexpr UINT ID_STOP_DEVICE_MAPPING = 32867;
