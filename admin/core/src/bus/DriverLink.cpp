#include "DriverLink.h"

#include <cstdlib>

#include "admin/Trace.h"
#include "win32/file.h"
#include "win32/handle.h"
#include "win32/ioctl.h"
#include "win32/sync.h"

namespace driver_link {

namespace {
// No answer of either driver is anywhere near this; a bigger request is a driver fault.
constexpr DWORD kMaxAnswerSize = 0x10000;
}  // namespace

BOOL OpenFirstInterface(const GUID& interfaceClass, const OpenTexts& texts, HDEVINFO* devInfo,
                        PSP_DEVICE_INTERFACE_DETAIL_DATA* detail, HANDLE* device) {
  *devInfo = SetupDiGetClassDevs(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (*devInfo == INVALID_HANDLE_VALUE) {
    *devInfo = nullptr;
    if (IsTraceErrorOn()) TraceError("SetupDiGetClassDevs failed: %d\n", GetLastError());
    return FALSE;
  }
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  if (!SetupDiEnumDeviceInterfaces(*devInfo, nullptr, &interfaceClass, 0, &interfaceData)) {
    if (GetLastError() == ERROR_NO_MORE_ITEMS && IsTraceErrorOn()) TraceError("%s", texts.notRegistered);
    return FALSE;
  }
  DWORD required = 0;
  if (!SetupDiGetDeviceInterfaceDetail(*devInfo, &interfaceData, nullptr, 0, &required, nullptr) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    if (IsTraceErrorOn()) TraceError("SetupDiGetDeviceInterfaceDetail Error-%d\n", GetLastError());
    return FALSE;
  }
  auto* buffer = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA>(std::malloc(required));
  if (!buffer) {
    if (IsTraceErrorOn()) TraceError("Couldn't allocate %d bytes for device interface details.\n", required);
    return FALSE;
  }
  buffer->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA);
  if (!SetupDiGetDeviceInterfaceDetail(*devInfo, &interfaceData, buffer, required, nullptr, nullptr)) {
    if (IsTraceErrorOn()) TraceError("SetupDiGetDeviceInterfaceDetail Error-%d\n", GetLastError());
    std::free(buffer);
    return FALSE;
  }
  if (IsTraceInfoOn()) TraceInfo("Opening %s\n", buffer->DevicePath);
  HANDLE handle = CreateFile(buffer->DevicePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (IsTraceErrorOn()) TraceError("CreateFile failed: %d", GetLastError());
    std::free(buffer);
    return FALSE;
  }
  *detail = buffer;
  *device = handle;
  if (IsTraceInfoOn()) TraceInfo("%s", texts.opened);
  return TRUE;
}

void ReleaseInterface(HDEVINFO* devInfo, PSP_DEVICE_INTERFACE_DETAIL_DATA* detail, HANDLE* device) {
  if (*devInfo) SetupDiDestroyDeviceInfoList(*devInfo);
  *devInfo = nullptr;
  if (*device != INVALID_HANDLE_VALUE) CloseHandle(*device);
  *device = INVALID_HANDLE_VALUE;
  std::free(*detail);
  *detail = nullptr;
}

BOOL FetchAnswer(HANDLE device, DWORD code, DWORD size, const char* failedFormat, void** out) {
  auto fail = [&](DWORD error) {
    if (IsTraceErrorOn()) TraceError(failedFormat, error);
    SetLastError(error);
    return FALSE;
  };
  void* buffer = std::calloc(1, size);
  *out = buffer;
  if (!buffer) return fail(ERROR_NOT_ENOUGH_MEMORY);
  DWORD returned = 0;
  if (!DeviceIoControl(device, code, buffer, size, buffer, size, &returned, nullptr)) {
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return fail(error);
    // The driver named the size it needs: one resend with it, never handing out less than the record.
    DWORD needed = returned;
    if (needed == 0 || needed > kMaxAnswerSize) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::free(buffer);
    buffer = std::calloc(1, needed > size ? needed : size);
    *out = buffer;
    if (!buffer) return fail(ERROR_NOT_ENOUGH_MEMORY);
    if (!DeviceIoControl(device, code, buffer, needed, buffer, needed, &returned, nullptr)) return fail(GetLastError());
  }
  // An answer shorter than its record would leave the caller reading fields the driver never wrote.
  if (returned < size) return fail(kErrorInvalidData);
  return TRUE;
}

}  // namespace driver_link
