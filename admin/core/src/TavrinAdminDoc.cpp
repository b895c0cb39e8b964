#include "admin/TavrinAdminDoc.h"

#include "admin/TavrinAdminApp.h"
#include "admin/util/Utilities.h"

IMPLEMENT_DYNCREATE(CTavrinAdminDoc, CDocument)

CTavrinAdminDoc::CTavrinAdminDoc() {
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetDocument(this);
  m_bWinsockStarted = WinsockStart() == 0;  // Windows Sockets 2.2 for the document's whole run
}

CTavrinAdminDoc::~CTavrinAdminDoc() {
  if (m_bWinsockStarted) WinsockStop();
  if (CTavrinAdminApp* app = GetAdminApp()) app->SetDocument(nullptr);
}

BOOL CTavrinAdminDoc::OnNewDocument() {
  if (!CDocument::OnNewDocument()) return FALSE;
  for (DWORD& flag : m_ViewModeFlags) flag = 0;
  m_bMappingStarted = 0;
  return TRUE;
}
