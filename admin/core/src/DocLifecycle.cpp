// Device mapping's start and stop. For now only the stop that the exit monitor and the command need
// while nothing can be started: it confirms (when asked to), reports the stop and tells the installer
// programs through TavrinAdminCleanUpDone that the clean-up is done.
#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/MainFrame.h"

void CTavrinAdminDoc::StopDeviceMapping(BOOL bAskUser) {
  CTavrinAdminApp* app = GetAdminApp();
  CMainFrame* frame = app ? app->GetMainFrame() : nullptr;
  CString text;
  if (bAskUser) {
    text.LoadString(IDS_STOP_MAPPING_QUESTION);
    if (!frame || frame->ShowMessageBox(text, MB_OKCANCEL | MB_ICONINFORMATION, 0) != IDOK) return;
  }
  text.LoadString(IDS_STOPPED_MAPPING);
  if (frame) frame->SetStatusText(text);
  if (app) app->WriteLog(text + "\n\n");

  m_bMappingStarted = 0;
  if (CLEANUP_DONE_EVENT && CLEANUP_DONE_EVENT != INVALID_HANDLE_VALUE) {
    SetEvent(CLEANUP_DONE_EVENT);
    Sleep(100);
    CloseHandle(CLEANUP_DONE_EVENT);
    CLEANUP_DONE_EVENT = INVALID_HANDLE_VALUE;
  }
  if (frame) frame->SetStatusText("");
}
