#include "mfc/multidoc.h"

#include "mfc/app.h"
#include "mfc/wnd.h"
#include "win32/resources.h"

IMPLEMENT_DYNAMIC(CMultiDocTemplate, CDocTemplate)

CMultiDocTemplate::CMultiDocTemplate(UINT idResource, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
                                     const CRuntimeClass* viewClass)
    : CDocTemplate(idResource, docClass, frameClass, viewClass) {
  if (idResource) {
    CWinApp* app = AfxGetApp();
    m_hMenuShared = ::LoadMenu(app ? app->m_hInstance : nullptr, MAKEINTRESOURCE(static_cast<WORD>(idResource)));
  }
}

CMultiDocTemplate::~CMultiDocTemplate() {
  while (!m_docList.IsEmpty()) {
    CDocument* doc = m_docList.GetHead();
    RemoveDocument(doc);
    delete doc;
  }
  if (m_hMenuShared) ::DestroyMenu(m_hMenuShared);
  m_hMenuShared = nullptr;
}

CDocument* CMultiDocTemplate::OpenDocumentFile(LPCSTR path, BOOL makeVisible) {
  CDocument* doc = CreateNewDocument();
  if (!doc) return nullptr;
  CFrameWnd* frame = CreateNewFrame(doc, nullptr);
  if (!frame) {
    RemoveDocument(doc);
    delete doc;
    return nullptr;
  }
  const BOOL ready = path ? doc->OnOpenDocument(path) : doc->OnNewDocument();
  if (!ready) {
    frame->DestroyWindow();  // with its view; the document goes with them unless it was kept
    if (m_docList.Find(doc)) {
      RemoveDocument(doc);
      delete doc;
    }
    return nullptr;
  }
  if (!path) ++m_nUntitledCount;
  InitialUpdateFrame(frame, doc, makeVisible);
  return doc;
}

void CMultiDocTemplate::AddDocument(CDocument* doc) {
  CDocTemplate::AddDocument(doc);
  m_docList.AddTail(doc);
}

void CMultiDocTemplate::RemoveDocument(CDocument* doc) {
  CDocTemplate::RemoveDocument(doc);
  if (POSITION position = m_docList.Find(doc)) m_docList.RemoveAt(position);
}

POSITION CMultiDocTemplate::GetFirstDocPosition() const { return m_docList.GetHeadPosition(); }

CDocument* CMultiDocTemplate::GetNextDoc(POSITION& position) const { return m_docList.GetNext(position); }
