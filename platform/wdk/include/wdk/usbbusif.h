// The USB bus interfaces a USB bus driver offers its children through IRP_MN_QUERY_INTERFACE, and the USB
// bus type GUID. Layouts as on x86-64.
#pragma once
#include "wdk/ntddk.h"

using USBD_STATUS = LONG;
constexpr USBD_STATUS USBD_STATUS_DEV_NOT_RESPONDING = MakeNtStatus(0xC0000005);
constexpr USBD_STATUS USBD_STATUS_INSUFFICIENT_RESOURCES = MakeNtStatus(0xC0001000);

struct USBD_VERSION_INFORMATION {
  ULONG USBDI_Version;
  ULONG Supported_USB_Version;
};
using PUSBD_VERSION_INFORMATION = USBD_VERSION_INFORMATION*;

struct USB_BUS_INFORMATION_LEVEL_0 {
  ULONG TotalBandwidth;
  ULONG ConsumedBandwidth;
};

using PUSB_BUSIFFN_GETUSBDI_VERSION = void (*)(PVOID context, PUSBD_VERSION_INFORMATION versionInformation,
                                               PULONG hcdCapabilities);
using PUSB_BUSIFFN_QUERY_BUS_TIME = NTSTATUS (*)(PVOID context, PULONG currentUsbFrame);
using PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB = NTSTATUS (*)(PVOID context, PVOID urb);
using PUSB_BUSIFFN_QUERY_BUS_INFORMATION = NTSTATUS (*)(PVOID context, ULONG level, PVOID busInformationBuffer,
                                                        PULONG busInformationBufferLength,
                                                        PULONG busInformationActualLength);
using PUSB_BUSIFFN_IS_DEVICE_HIGH_SPEED = BOOLEAN (*)(PVOID context);
using PUSB_BUSIFFN_ENUM_LOG_ENTRY = NTSTATUS (*)(PVOID context, ULONG driverTag, ULONG enumTag, ULONG p1, ULONG p2);

struct USB_BUS_INTERFACE_USBDI_V0 {
  USHORT Size;
  USHORT Version;
  PVOID BusContext;
  PINTERFACE_REFERENCE InterfaceReference;
  PINTERFACE_DEREFERENCE InterfaceDereference;
  PUSB_BUSIFFN_GETUSBDI_VERSION GetUSBDIVersion;
  PUSB_BUSIFFN_QUERY_BUS_TIME QueryBusTime;
  PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB SubmitIsoOutUrb;
  PUSB_BUSIFFN_QUERY_BUS_INFORMATION QueryBusInformation;
};
struct USB_BUS_INTERFACE_USBDI_V1 : USB_BUS_INTERFACE_USBDI_V0 {
  PUSB_BUSIFFN_IS_DEVICE_HIGH_SPEED IsDeviceHighSpeed;
};
struct USB_BUS_INTERFACE_USBDI_V2 : USB_BUS_INTERFACE_USBDI_V1 {
  PUSB_BUSIFFN_ENUM_LOG_ENTRY EnumLogEntry;
};
static_assert(sizeof(USB_BUS_INTERFACE_USBDI_V0) == 64);
static_assert(sizeof(USB_BUS_INTERFACE_USBDI_V1) == 72);
static_assert(sizeof(USB_BUS_INTERFACE_USBDI_V2) == 80);

// {B1A96A13-3DE0-4574-9B01-C08FEAB318D6}
inline constexpr GUID USB_BUS_INTERFACE_USBDI_GUID = {0xB1A96A13, 0x3DE0, 0x4574, {0x9B, 0x01, 0xC0, 0x8F, 0xEA, 0xB3, 0x18, 0xD6}};
// {B2BB8C0A-5AB4-11D3-A8CD-00C04F68747A}
inline constexpr GUID USB_BUS_INTERFACE_HUB_GUID = {0xB2BB8C0A, 0x5AB4, 0x11D3, {0xA8, 0xCD, 0x00, 0xC0, 0x4F, 0x68, 0x74, 0x7A}};
// {9D7DEBBC-C85D-11D1-9EB4-006008C3A19A}
inline constexpr GUID GUID_BUS_TYPE_USB = {0x9D7DEBBC, 0xC85D, 0x11D1, {0x9E, 0xB4, 0x00, 0x60, 0x08, 0xC3, 0xA1, 0x9A}};

constexpr USHORT USB_BUSIF_USBDI_VERSION_0 = 0;
constexpr USHORT USB_BUSIF_USBDI_VERSION_1 = 1;
constexpr USHORT USB_BUSIF_USBDI_VERSION_2 = 2;
