#include "admin/upgrade/FirmwareUpgrade.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "admin/Trace.h"
#include "admin/comm/ServerComm.h"
#include "admin/util/FixedText.h"
#include "win32/file_mapping.h"
#include "win32/mutex.h"
#include "win32/sync.h"

namespace {

constexpr DWORD kCancelCheckMs = 20;  // how soon a pause sees the cancel

// Milliseconds since `start` on the 32-bit tick count (right across its wrap-around).
DWORD Since(DWORD start) { return GetTickCount() - start; }

bool CancelSet(const DWORD* cancel) { return cancel && __atomic_load_n(cancel, __ATOMIC_SEQ_CST) == 1; }

}  // namespace

int ComputeUploadPercent(ULONGLONG blocks, ULONGLONG imageSize) {
  if (imageSize == 0) return 0;
  // blocks x 51200 / size overflows 32 bits above 42 MB; in 64 bits it holds for any image here.
  ULONGLONG percent = blocks * 51200 / imageSize;
  return static_cast<int>(std::min<ULONGLONG>(percent, 100));
}

CString NextUploadStatusText(const CString& current, int percent) {
  const CString text = current;
  if (text == UPGRADE_TEXT_SUCCESS || text == UPGRADE_TEXT_FAIL) return text;
  auto startsWith = [&](const char* prefix) { return strncmp(text.GetString(), prefix, strlen(prefix)) == 0; };
  if (percent == 0) {
    if (text == "Initializing.") return "Initializing..";
    if (text == "Initializing..") return "Initializing....";
    if (text == "Initializing....") return "Initializing.";
    return text;
  }
  if (percent < 100) {
    if (startsWith("Initializing") || text == "Uploading....") return "Uploading.";
    if (text == "Uploading.") return "Uploading..";
    if (text == "Uploading..") return "Uploading....";
    return text;
  }
  if (startsWith("Uploading") || text == "Applying changes....") return "Applying changes.";
  if (text == "Applying changes.") return "Applying changes..";
  if (text == "Applying changes..") return "Applying changes....";
  return text;
}

CFirmwareUpgradeRun::CFirmwareUpgradeRun() : m_Settings(GetUpgradeSettings()) {
  for (int i = 0; i < MAX_UPGRADE_SERVERS; ++i) {
    m_Results[i] = 0;
    m_Delivered[i] = false;
  }
}

CFirmwareUpgradeRun::~CFirmwareUpgradeRun() {
  Cancel();
  WaitForWorkers(INFINITE);
  CloseSharedInfo();
}

void CFirmwareUpgradeRun::SetUp(DWORD imageChosen, const CString& imageFileName, const CString& imageFolder) {
  m_dwImageChosen = imageChosen;
  m_strImageFileName = imageFileName;
  m_strImageFolder = imageFolder;
}

BOOL CFirmwareUpgradeRun::OpenSharedInfo() {
  CloseSharedInfo();
  m_hMutex = CreateMutex(nullptr, FALSE, tftp::kLockName);
  if (!m_hMutex) {
    TraceError("CreateMutex():: Error: %d\n", static_cast<int>(GetLastError()));
    return FALSE;
  }
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    // Made here, so no TFTP server holds it: nothing is served.
    TraceError("CreateMutex()::Error OpenFileMapping() %d\n", static_cast<int>(GetLastError()));
    CloseSharedInfo();
    return FALSE;
  }
  m_hMapping = OpenFileMapping(FILE_MAP_READ, FALSE, tftp::kTableName);
  if (!m_hMapping) {
    TraceError("OpenFileMapping():: Error: %d\n", static_cast<int>(GetLastError()));
    CloseSharedInfo();
    return FALSE;
  }
  m_pSharedInfo = static_cast<const tftp::SharedRecord*>(MapViewOfFile(m_hMapping, FILE_MAP_READ, 0, 0, tftp::kTableSize));
  if (!m_pSharedInfo) {
    TraceError("MapViewOfFile():: Error: %d\n", static_cast<int>(GetLastError()));
    CloseSharedInfo();
    return FALSE;
  }
  return TRUE;
}

void CFirmwareUpgradeRun::CloseSharedInfo() {
  if (m_pSharedInfo) UnmapViewOfFile(m_pSharedInfo);
  m_pSharedInfo = nullptr;
  if (m_hMapping) CloseHandle(m_hMapping);
  m_hMapping = nullptr;
  if (m_hMutex) CloseHandle(m_hMutex);
  m_hMutex = nullptr;
}

BOOL CFirmwareUpgradeRun::StartFileTransfer() {
  TraceInfo("StartFileTransfer() ==>>\n");
  if (!m_pSharedInfo || !m_pSelectedServers || m_nRows != 0 || m_pSelectedServers->IsEmpty() ||
      m_pSelectedServers->GetCount() > MAX_UPGRADE_SERVERS) {
    TraceError("StartFileTransfer()::No transfer started\n");
    return FALSE;
  }
  for (POSITION position = m_pSelectedServers->GetHeadPosition(); position;) {
    const SelectedServerEntry& entry = m_pSelectedServers->GetNext(position);
    const int row = m_nRows++;
    UpgradeThreadContext& context = m_Contexts[row];
    context.ImageChosen = m_dwImageChosen;
    CopyFixedText(context.ServerIp, entry.ServerIp);
    CopyFixedText(context.ImageFileName, m_strImageFileName.GetString());
    context.Cancel = &m_dwCancel;
    context.Window = m_hWindow;
    context.BlocksSent = 0;
    context.Owner = this;
    context.StartTicks = 0;
    context.Server = entry.Server;
    ++m_Outstanding;
    m_hThreads[row] = CreateThread(nullptr, 0, UpgradeFWTh, &context, 0, nullptr);
    if (m_hThreads[row]) {
      TraceInfo("StartFileTransfer()::Started Thread Upgrading FW \t\t\t\tfor Server( %s ):\n", context.ServerIp);
    } else {
      TraceError("StartFileTransfer()::CreateThread Error:%d\n", static_cast<int>(GetLastError()));
      Deliver(&context, 0);
    }
  }
  TraceInfo("StartFileTransfer() <<==\n");
  return TRUE;
}

void CFirmwareUpgradeRun::Cancel() { __atomic_exchange_n(&m_dwCancel, 1u, __ATOMIC_SEQ_CST); }

BOOL CFirmwareUpgradeRun::IsCancelled() const { return CancelSet(&m_dwCancel); }

BOOL CFirmwareUpgradeRun::WaitForWorkers(DWORD milliseconds) {
  std::vector<HANDLE> running;
  for (int i = 0; i < m_nRows; ++i)
    if (m_hThreads[i]) running.push_back(m_hThreads[i]);
  if (!running.empty() &&
      WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), TRUE, milliseconds) != WAIT_OBJECT_0)
    return FALSE;
  for (int i = 0; i < m_nRows; ++i) {
    if (m_hThreads[i]) CloseHandle(m_hThreads[i]);
    m_hThreads[i] = nullptr;
  }
  return TRUE;
}

CString CFirmwareUpgradeRun::GetRowIp(int row) const {
  return row >= 0 && row < m_nRows ? CString(m_Contexts[row].ServerIp) : CString();
}

DWORD CFirmwareUpgradeRun::GetRowBlocks(int row) const {
  return row >= 0 && row < m_nRows ? m_Contexts[row].BlocksSent.load() : 0;
}

int CFirmwareUpgradeRun::GetRowPercent(int row) const { return ComputeUploadPercent(GetRowBlocks(row), m_ImageSize); }

BOOL CFirmwareUpgradeRun::GetRowResult(int row, DWORD* result) const {
  if (row < 0 || row >= m_nRows || !m_Delivered[row].load()) return FALSE;
  if (result) *result = m_Results[row].load();
  return TRUE;
}

void CFirmwareUpgradeRun::Deliver(UpgradeThreadContext* context, DWORD result) {
  const int row = static_cast<int>(context - m_Contexts);
  m_Results[row] = result;
  m_Delivered[row] = true;
  --m_Outstanding;
  if (!context->Window) return;
  char* ip = static_cast<char*>(calloc(sizeof context->ServerIp, 1));
  if (!ip) return;
  CopyFixedText(ip, sizeof context->ServerIp, context->ServerIp);
  if (!PostMessage(context->Window, WM_UPGRADE_FW_STATUS, reinterpret_cast<WPARAM>(ip), static_cast<LPARAM>(result)))
    free(ip);  // the window has gone: nobody will free it
}

BOOL CFirmwareUpgradeRun::PauseUnlessCancelled(DWORD milliseconds) const {
  const DWORD start = GetTickCount();
  while (!IsCancelled()) {
    DWORD waited = Since(start);
    if (waited >= milliseconds) return TRUE;
    Sleep(std::min(kCancelCheckMs, milliseconds - waited));
  }
  return FALSE;
}

DWORD CFirmwareUpgradeRun::GetTftpStatus(UpgradeThreadContext* context, DWORD* result) {
  TraceInfo("GetTftpStatus() ==>>\n");
  char ip[tftp::kIpSize];
  CopyFixedText(ip, context->ServerIp);
  DWORD status = TFTP_STATUS_FAILED;
  for (;;) {
    if (CancelSet(context->Cancel)) {
      TraceError("GetTftpStatus()::Cancel has been signalled...\n");
      status = TFTP_STATUS_CANCELLED;
      break;
    }
    if (Since(context->StartTicks) > m_Settings.transferTimeoutMs) {
      TraceInfo("GetTftpStatus()::TFTP Timed out!!\n");
      status = TFTP_STATUS_TIMED_OUT;
      break;
    }
    DWORD wait = m_hMutex ? WaitForSingleObject(m_hMutex, m_Settings.lockWaitMs) : WAIT_FAILED;
    if (wait == WAIT_TIMEOUT || wait == WAIT_FAILED) {
      TraceInfo("WAIT_TIMEOUT\n");
      if (wait == WAIT_FAILED) PauseUnlessCancelled(m_Settings.statusPollMs);
      continue;
    }
    // WAIT_ABANDONED: the server died holding the lock, which is ours now; the table is read all the same.
    tftp::SharedRecord record{};
    bool found = false;
    for (size_t i = 0; i < tftp::kRecordCount && m_pSharedInfo; ++i) {
      tftp::SharedRecord candidate;
      memcpy(&candidate, &m_pSharedInfo[i], sizeof candidate);
      if (candidate.port == 0) continue;
      candidate.ip[tftp::kIpSize - 1] = '\0';
      TraceInfo("Port %d,IP %s\n", candidate.port, candidate.ip);
      if (!found && strncmp(candidate.ip, ip, tftp::kIpSize) == 0) {
        record = candidate;
        found = true;
      }
    }
    ReleaseMutex(m_hMutex);
    if (found) {
      context->BlocksSent = record.blocks;
      TraceInfo("Percentage Complete  = %d\n", static_cast<int>(record.blocks));
      TraceInfo("IP Address ON List.\n");
      if (record.state == tftp::kStateEnded) {
        *result = record.result;
        if (record.result == tftp::kResultSuccess) {
          TraceInfo("GetTftpStatus() >> Upgrade F/W for %s completed successfully\n", ip);
          status = TFTP_STATUS_DONE;
        } else {
          TraceError("GetTftpStatus() >> Upgrade F/W for %s completed with error:%d\n", ip, static_cast<int>(record.result));
          status = TFTP_STATUS_FAILED;
        }
        break;
      }
    }
    // Running, or not begun yet: look again after a pause rather than at once.
    PauseUnlessCancelled(m_Settings.statusPollMs);
  }
  TraceInfo("<<== GetTftpStatus\n");
  return status;
}

DWORD WINAPI UpgradeFWTh(LPVOID parameter) {
  auto* context = static_cast<UpgradeThreadContext*>(parameter);
  CFirmwareUpgradeRun* run = context->Owner;
  const UpgradeSettings& settings = run->Settings();
  TraceInfo("UpgradeFWTh() >> UpgradeFWTh() Started... Threadid:%d\n", static_cast<int>(GetCurrentThreadId()));
  context->StartTicks = GetTickCount();
  CServerComm comm;
  DWORD tftpResult = 0;
  DWORD outcome = 0;
  DWORD exitCode = comm.UpGradeFirmware(context->ServerIp, reinterpret_cast<const BYTE*>(context->ImageFileName),
                                        static_cast<DWORD>(strlen(context->ImageFileName)), context->Cancel, nullptr, 0);
  if (exitCode != 0) {
    TraceError("UpgradeFWTh() :: Error in Initiating..%d\n", static_cast<int>(exitCode));
  } else if ((exitCode = run->GetTftpStatus(context, &tftpResult)) != TFTP_STATUS_DONE) {
    TraceError("GetTftpStatus() :: Error in getting the status..%d\n", static_cast<int>(exitCode));
    outcome = tftpResult;
  } else {
    // The image is on the server; it counts only once the server runs the image's version.
    BYTE major = 0, minor = 0;
    ParseFirmwareImageName(context->ImageFileName, &major, &minor);
    char expected[CONF_TEXT_SIZE];
    snprintf(expected, sizeof expected, "%d.0.0.%d", major, minor);
    outcome = UPGRADE_RESULT_NO_ANSWER;
    for (;;) {
      DWORD answer = comm.GetConfigInfo(context->ServerIp, context->Cancel, nullptr, 0);
      if (answer == 0) {
        if (strncmp(comm.m_TavrinConfInfo.fw_version, expected, sizeof expected) == 0) {
          TraceInfo("UpgradeFWTh >> New FW version matching the \t\t\t\t\t\texpected one. Upgrade Success!!\n");
          outcome = UPGRADE_RESULT_SUCCESS;
          break;
        }
        outcome = UPGRADE_RESULT_VERSION_MISMATCH;  // still the old one, maybe: asked again until the time is up
      }
      if (CancelSet(context->Cancel)) {
        outcome = UPGRADE_RESULT_CANCELLED;
        break;
      }
      if (Since(context->StartTicks) >= settings.configTimeoutMs) {
        if (outcome == UPGRADE_RESULT_VERSION_MISMATCH)
          TraceInfo("UpgradeFWTh >> New FW version did not matching the \t\t\t\t\t\texpected one. Upgrade failed!!\n");
        else
          TraceInfo("UpgradeFWTh >> Time out!! No RSP from the box.\n");
        break;
      }
      if (!run->PauseUnlessCancelled(settings.configRetryMs)) {
        outcome = UPGRADE_RESULT_CANCELLED;
        break;
      }
    }
    exitCode = outcome == UPGRADE_RESULT_SUCCESS ? 0 : outcome;
  }
  TraceInfo("UpgradeFWTh() << UpgradeFWTh() Stoped.  Exit Code:%d\n", static_cast<int>(exitCode));
  run->Deliver(context, outcome);
  return exitCode;
}
