#include "mfc/doc.h"

#include "mfc/app.h"
#include "object_internal.h"

IMPLEMENT_DYNAMIC(CDocument, CCmdTarget)
IMPLEMENT_DYNAMIC(CDocTemplate, CCmdTarget)
IMPLEMENT_DYNAMIC(CSingleDocTemplate, CDocTemplate)

// --- CDocument

CDocument::~CDocument() {
  // Views that outlive the document must not point at it.
  while (!m_viewList.IsEmpty()) m_viewList.RemoveHead()->m_pDocument = nullptr;
  if (m_pDocTemplate) m_pDocTemplate->RemoveDocument(this);
}

BOOL CDocument::OnNewDocument() {
  DeleteContents();
  SetModifiedFlag(FALSE);
  return TRUE;
}

BOOL CDocument::OnOpenDocument(LPCSTR path) {
  DeleteContents();
  SetModifiedFlag(FALSE);
  return path && GetFileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

void CDocument::OnCloseDocument() {
  // Destroying the frames removes the views; the document must not delete itself meanwhile.
  const BOOL autoDelete = m_bAutoDelete;
  m_bAutoDelete = FALSE;
  while (!m_viewList.IsEmpty()) {
    CView* view = m_viewList.GetHead();
    if (CFrameWnd* frame = view->GetParentFrame()) {
      frame->DestroyWindow();
    } else {
      view->DestroyWindow();
    }
    if (!m_viewList.IsEmpty() && m_viewList.GetHead() == view) RemoveView(view);  // a view without a window
  }
  m_bAutoDelete = autoDelete;
  DeleteContents();
  if (m_bAutoDelete) delete this;
}

void CDocument::AddView(CView* view) {
  m_viewList.AddTail(view);
  view->m_pDocument = this;
}

void CDocument::RemoveView(CView* view) {
  if (POSITION position = m_viewList.Find(view)) m_viewList.RemoveAt(position);
  view->m_pDocument = nullptr;
}

void CDocument::UpdateAllViews(CView* sender, LPARAM hint, CObject* hintObject) {
  POSITION position = GetFirstViewPosition();
  while (position) {
    CView* view = GetNextView(position);
    if (view != sender) view->OnUpdate(sender, hint, hintObject);
  }
}

// --- CDocTemplate

CDocTemplate::CDocTemplate(UINT idResource, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
                           const CRuntimeClass* viewClass)
    : m_nIDResource(idResource), m_pDocClass(docClass), m_pFrameClass(frameClass), m_pViewClass(viewClass) {}

CDocTemplate::~CDocTemplate() = default;

BOOL CDocTemplate::GetDocString(CString& text, DocStringIndex index) const {
  text.Empty();
  const char* all = mfc::FindString(m_nIDResource);
  if (!all) return FALSE;
  CString rest(all);
  for (int part = 0; part < index; ++part) {
    int end = rest.Find('\n');
    if (end < 0) return FALSE;
    rest = rest.Mid(end + 1);
  }
  int end = rest.Find('\n');
  text = end < 0 ? rest : rest.Left(end);
  return !text.IsEmpty();
}

CDocument* CDocTemplate::CreateNewDocument() {
  auto* doc = mfc::detail::CreateAs<CDocument>(m_pDocClass);
  if (!doc) return nullptr;
  AddDocument(doc);
  return doc;
}

CFrameWnd* CDocTemplate::CreateNewFrame(CDocument* doc, CFrameWnd*) {
  auto* frame = mfc::detail::CreateAs<CFrameWnd>(m_pFrameClass);
  if (!frame) return nullptr;
  CCreateContext context;
  context.m_pNewViewClass = m_pViewClass;
  context.m_pCurrentDoc = doc;
  context.m_pNewDocTemplate = this;
  if (!frame->LoadFrame(m_nIDResource, WS_OVERLAPPEDWINDOW, nullptr, &context)) {
    if (!frame->GetSafeHwnd()) delete frame;  // a frame whose window came and went deleted itself
    return nullptr;
  }
  return frame;
}

void CDocTemplate::InitialUpdateFrame(CFrameWnd* frame, CDocument* doc, BOOL makeVisible) {
  frame->InitialUpdateFrame(doc, makeVisible);
}

void CDocTemplate::AddDocument(CDocument* doc) { doc->m_pDocTemplate = this; }

void CDocTemplate::RemoveDocument(CDocument* doc) { doc->m_pDocTemplate = nullptr; }

void CDocTemplate::CloseAllDocuments(BOOL) {
  POSITION position = GetFirstDocPosition();
  while (position) {
    CDocument* doc = GetNextDoc(position);
    doc->OnCloseDocument();
  }
}

// --- CSingleDocTemplate

CSingleDocTemplate::~CSingleDocTemplate() {
  if (m_pOnlyDoc) {
    CDocument* doc = m_pOnlyDoc;
    RemoveDocument(doc);
    delete doc;
  }
}

CDocument* CSingleDocTemplate::OpenDocumentFile(LPCSTR path, BOOL makeVisible) {
  CDocument* doc = m_pOnlyDoc;
  CFrameWnd* frame = nullptr;
  bool created = false;
  if (!doc) {
    doc = CreateNewDocument();
    if (!doc) return nullptr;
    created = true;
    frame = CreateNewFrame(doc, nullptr);
    if (!frame) {
      RemoveDocument(doc);
      delete doc;
      return nullptr;
    }
  }
  BOOL ready = path ? doc->OnOpenDocument(path) : doc->OnNewDocument();
  if (!ready) {
    if (created) frame->DestroyWindow();  // with its view; the document goes with them
    if (created && m_pOnlyDoc == doc) {
      RemoveDocument(doc);
      delete doc;
    }
    return nullptr;
  }
  if (created) {
    CWinThread* thread = AfxGetThread();
    if (thread && !thread->m_pMainWnd) thread->m_pMainWnd = frame;
    InitialUpdateFrame(frame, doc, makeVisible);
  }
  return doc;
}

void CSingleDocTemplate::AddDocument(CDocument* doc) {
  CDocTemplate::AddDocument(doc);
  m_pOnlyDoc = doc;
}

void CSingleDocTemplate::RemoveDocument(CDocument* doc) {
  CDocTemplate::RemoveDocument(doc);
  if (m_pOnlyDoc == doc) m_pOnlyDoc = nullptr;
}

POSITION CSingleDocTemplate::GetFirstDocPosition() const {
  // A single-document template has one place: any non-null position stands for it.
  return m_pOnlyDoc ? reinterpret_cast<POSITION>(m_pOnlyDoc) : nullptr;
}

CDocument* CSingleDocTemplate::GetNextDoc(POSITION& position) const {
  CDocument* doc = position ? m_pOnlyDoc : nullptr;
  position = nullptr;
  return doc;
}
