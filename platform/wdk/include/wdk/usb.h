// USB request blocks as a USB bus driver's children submit them (IOCTL_INTERNAL_USB_SUBMIT_URB), with the
// interface and pipe records of a selection. Layouts as on x86-64; the sizes are what a bus driver checks.
#pragma once
#include <cstddef>

#include "wdk/ntddk.h"
#include "wdk/usbbusif.h"

constexpr ULONG IOCTL_INTERNAL_USB_SUBMIT_URB = 0x220003;
constexpr ULONG IOCTL_INTERNAL_USB_RESET_PORT = 0x220007;
constexpr ULONG IOCTL_INTERNAL_USB_GET_ROOTHUB_PDO = 0x22000F;
constexpr ULONG IOCTL_INTERNAL_USB_GET_PORT_STATUS = 0x220013;
constexpr ULONG IOCTL_INTERNAL_USB_ENABLE_PORT = 0x220017;
constexpr ULONG IOCTL_INTERNAL_USB_GET_HUB_COUNT = 0x22001B;
constexpr ULONG IOCTL_INTERNAL_USB_CYCLE_PORT = 0x22001F;
constexpr ULONG IOCTL_INTERNAL_USB_GET_HUB_NAME = 0x220020;
constexpr ULONG IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION = 0x220027;
constexpr ULONG IOCTL_INTERNAL_USB_GET_BUS_INFO = 0x220420;

constexpr ULONG USBD_PORT_ENABLED = 1;
constexpr ULONG USBD_PORT_CONNECTED = 2;

constexpr USBD_STATUS USBD_STATUS_SUCCESS = 0;
constexpr USBD_STATUS USBD_STATUS_PENDING = 0x40000000;
constexpr USBD_STATUS USBD_STATUS_ERROR = MakeNtStatus(0x80000000);
constexpr USBD_STATUS USBD_STATUS_REQUEST_FAILED = MakeNtStatus(0xC0000004);  // also a stalled endpoint
constexpr USBD_STATUS USBD_STATUS_CANCELED = MakeNtStatus(0xC0010000);
constexpr USBD_STATUS USBD_STATUS_BUFFER_OVERRUN = MakeNtStatus(0xC000000C);
constexpr USBD_STATUS USBD_STATUS_INVALID_PIPE_HANDLE = MakeNtStatus(0xC0000600);
constexpr USBD_STATUS USBD_STATUS_INVALID_PARAMETER = MakeNtStatus(0xC0000300);

constexpr ULONG USBD_TRANSFER_DIRECTION_IN = 1;
constexpr ULONG USBD_SHORT_TRANSFER_OK = 2;

// URB functions.
constexpr USHORT URB_FUNCTION_SELECT_CONFIGURATION = 0;
constexpr USHORT URB_FUNCTION_SELECT_INTERFACE = 1;
constexpr USHORT URB_FUNCTION_ABORT_PIPE = 2;
constexpr USHORT URB_FUNCTION_GET_CURRENT_FRAME_NUMBER = 7;
constexpr USHORT URB_FUNCTION_CONTROL_TRANSFER = 8;
constexpr USHORT URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER = 9;
constexpr USHORT URB_FUNCTION_ISOCH_TRANSFER = 10;
constexpr USHORT URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE = 11;
constexpr USHORT URB_FUNCTION_SET_DESCRIPTOR_TO_DEVICE = 12;
constexpr USHORT URB_FUNCTION_SET_FEATURE_TO_DEVICE = 13;
constexpr USHORT URB_FUNCTION_CLEAR_FEATURE_TO_ENDPOINT = 18;
constexpr USHORT URB_FUNCTION_GET_STATUS_FROM_DEVICE = 19;
constexpr USHORT URB_FUNCTION_VENDOR_DEVICE = 23;
constexpr USHORT URB_FUNCTION_VENDOR_INTERFACE = 24;
constexpr USHORT URB_FUNCTION_VENDOR_ENDPOINT = 25;
constexpr USHORT URB_FUNCTION_CLASS_DEVICE = 26;
constexpr USHORT URB_FUNCTION_CLASS_INTERFACE = 27;
constexpr USHORT URB_FUNCTION_CLASS_ENDPOINT = 28;
constexpr USHORT URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL = 30;
constexpr USHORT URB_FUNCTION_GET_CONFIGURATION = 38;
constexpr USHORT URB_FUNCTION_GET_INTERFACE = 39;

struct URB_HEADER {
  USHORT Length;
  USHORT Function;
  USBD_STATUS Status;
  PVOID UsbdDeviceHandle;
  ULONG UsbdFlags;
};

using USBD_PIPE_HANDLE = PVOID;
using USBD_INTERFACE_HANDLE = PVOID;
using USBD_CONFIGURATION_HANDLE = PVOID;

struct USBD_PIPE_INFORMATION {
  USHORT MaximumPacketSize;
  UCHAR EndpointAddress;
  UCHAR Interval;
  ULONG PipeType;
  USBD_PIPE_HANDLE PipeHandle;
  ULONG MaximumTransferSize;
  ULONG PipeFlags;
};

struct USBD_INTERFACE_INFORMATION {
  USHORT Length;  // with all its pipe records
  UCHAR InterfaceNumber;
  UCHAR AlternateSetting;
  UCHAR Class;
  UCHAR SubClass;
  UCHAR Protocol;
  UCHAR Reserved;
  USBD_INTERFACE_HANDLE InterfaceHandle;
  ULONG NumberOfPipes;
  USBD_PIPE_INFORMATION Pipes[1];
};

// The part every transfer shares, after the pipe handle (or its reserved place).
struct URB_TRANSFER_TAIL {
  ULONG TransferFlags;
  ULONG TransferBufferLength;
  PVOID TransferBuffer;
  PMDL TransferBufferMDL;
  PVOID UrbLink;
  PVOID hca[8];
};

struct URB_SELECT_CONFIGURATION {
  URB_HEADER Hdr;
  const UCHAR* ConfigurationDescriptor;  // none: deconfigure
  USBD_CONFIGURATION_HANDLE ConfigurationHandle;
  USBD_INTERFACE_INFORMATION Interface;
};
struct URB_SELECT_INTERFACE {
  URB_HEADER Hdr;
  USBD_CONFIGURATION_HANDLE ConfigurationHandle;
  USBD_INTERFACE_INFORMATION Interface;
};
struct URB_PIPE_REQUEST {
  URB_HEADER Hdr;
  USBD_PIPE_HANDLE PipeHandle;
  ULONG Reserved;
};
struct URB_GET_CURRENT_FRAME_NUMBER {
  URB_HEADER Hdr;
  ULONG FrameNumber;
};
struct URB_BULK_OR_INTERRUPT_TRANSFER {
  URB_HEADER Hdr;
  USBD_PIPE_HANDLE PipeHandle;
  URB_TRANSFER_TAIL T;
};
struct URB_CONTROL_TRANSFER {
  URB_HEADER Hdr;
  USBD_PIPE_HANDLE PipeHandle;
  URB_TRANSFER_TAIL T;
  UCHAR SetupPacket[8];
};
struct USBD_ISO_PACKET_DESCRIPTOR {
  ULONG Offset;
  ULONG Length;  // in: the bytes the packet returned
  USBD_STATUS Status;
};
struct URB_ISOCH_TRANSFER {
  URB_HEADER Hdr;
  USBD_PIPE_HANDLE PipeHandle;
  URB_TRANSFER_TAIL T;
  ULONG StartFrame;
  ULONG NumberOfPackets;
  ULONG ErrorCount;
  USBD_ISO_PACKET_DESCRIPTOR IsoPacket[1];
};
struct URB_CONTROL_DESCRIPTOR_REQUEST {
  URB_HEADER Hdr;
  PVOID Reserved;
  URB_TRANSFER_TAIL T;
  USHORT Reserved1;
  UCHAR Index;
  UCHAR DescriptorType;
  USHORT LanguageId;
  USHORT Reserved2;
};
struct URB_CONTROL_FEATURE_REQUEST {
  URB_HEADER Hdr;
  PVOID Reserved;
  URB_TRANSFER_TAIL T;  // unused
  USHORT Reserved0;
  USHORT FeatureSelector;
  USHORT Index;
  USHORT Reserved1;
};
struct URB_CONTROL_GET_STATUS_REQUEST {
  URB_HEADER Hdr;
  PVOID Reserved;
  URB_TRANSFER_TAIL T;
  UCHAR Reserved1[4];
  USHORT Index;
  USHORT Reserved2;
};
struct URB_CONTROL_VENDOR_OR_CLASS_REQUEST {
  URB_HEADER Hdr;
  PVOID Reserved;
  URB_TRANSFER_TAIL T;
  UCHAR RequestTypeReservedBits;
  UCHAR Request;
  USHORT Value;
  USHORT Index;
  USHORT Reserved1;
};
struct URB_CONTROL_GET_INTERFACE_REQUEST {
  URB_HEADER Hdr;
  PVOID Reserved;
  URB_TRANSFER_TAIL T;
  UCHAR Reserved1[4];
  USHORT Interface;
  USHORT Reserved2;
};

union URB {
  URB_HEADER UrbHeader;
  URB_SELECT_CONFIGURATION UrbSelectConfiguration;
  URB_SELECT_INTERFACE UrbSelectInterface;
  URB_PIPE_REQUEST UrbPipeRequest;
  URB_GET_CURRENT_FRAME_NUMBER UrbGetCurrentFrameNumber;
  URB_BULK_OR_INTERRUPT_TRANSFER UrbBulkOrInterruptTransfer;
  URB_CONTROL_TRANSFER UrbControlTransfer;
  URB_ISOCH_TRANSFER UrbIsochronousTransfer;
  URB_CONTROL_DESCRIPTOR_REQUEST UrbControlDescriptorRequest;
  URB_CONTROL_FEATURE_REQUEST UrbControlFeatureRequest;
  URB_CONTROL_GET_STATUS_REQUEST UrbControlGetStatusRequest;
  URB_CONTROL_VENDOR_OR_CLASS_REQUEST UrbControlVendorClassRequest;
  URB_CONTROL_GET_INTERFACE_REQUEST UrbControlGetInterfaceRequest;
};
using PURB = URB*;

static_assert(sizeof(URB_HEADER) == 24);
static_assert(sizeof(URB_PIPE_REQUEST) == 40);
static_assert(sizeof(URB_GET_CURRENT_FRAME_NUMBER) == 32);
static_assert(sizeof(URB_BULK_OR_INTERRUPT_TRANSFER) == 128);
static_assert(sizeof(URB_CONTROL_TRANSFER) == 136);
static_assert(sizeof(URB_ISOCH_TRANSFER) == 152);
static_assert(sizeof(URB_CONTROL_DESCRIPTOR_REQUEST) == 136);
static_assert(sizeof(USBD_PIPE_INFORMATION) == 24);
static_assert(offsetof(URB_SELECT_CONFIGURATION, Interface) == 40);
static_assert(offsetof(URB_SELECT_INTERFACE, Interface) == 32);
static_assert(offsetof(USBD_INTERFACE_INFORMATION, Pipes) == 24);

// The length of an interface record with n pipes.
constexpr USHORT InterfaceInformationSize(ULONG pipes) {
  return static_cast<USHORT>(offsetof(USBD_INTERFACE_INFORMATION, Pipes) + pipes * sizeof(USBD_PIPE_INFORMATION));
}
