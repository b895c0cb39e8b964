// Documents and document templates. A single-document template makes the program's one document, its
// frame and its view from their run-time classes; the frame builds the view as its client.
#pragma once
#include "mfc/collections.h"
#include "mfc/wnd.h"

class CDocTemplate;

class CDocument : public CCmdTarget {
  DECLARE_DYNAMIC(CDocument)

 public:
  CDocument() = default;
  ~CDocument() override;

  // A fresh document: DeleteContents, not modified. TRUE.
  virtual BOOL OnNewDocument();
  // A document read from path: TRUE when the file exists (the documents of these programs store nothing).
  virtual BOOL OnOpenDocument(LPCSTR path);
  // Destroys the frames of the document's views, then deletes the document when it is auto-deleting.
  virtual void OnCloseDocument();
  virtual void DeleteContents() {}

  const CString& GetTitle() const { return m_strTitle; }
  virtual void SetTitle(LPCSTR title) { m_strTitle = title; }
  BOOL IsModified() const { return m_bModified; }
  void SetModifiedFlag(BOOL modified = TRUE) { m_bModified = modified; }
  CDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

  void AddView(CView* view);
  void RemoveView(CView* view);
  POSITION GetFirstViewPosition() const { return m_viewList.GetHeadPosition(); }
  CView* GetNextView(POSITION& position) const { return m_viewList.GetNext(position); }
  void UpdateAllViews(CView* sender, LPARAM hint = 0, CObject* hintObject = nullptr);

  BOOL m_bAutoDelete = TRUE;

 private:
  friend class CDocTemplate;
  CString m_strTitle;
  BOOL m_bModified = FALSE;
  CDocTemplate* m_pDocTemplate = nullptr;
  CList<CView*, CView*> m_viewList;
};

class CDocTemplate : public CCmdTarget {
  DECLARE_DYNAMIC(CDocTemplate)

 public:
  // The parts of the template string ("window title\ndocument name\nfile new name\n...").
  enum DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };

  CDocTemplate(UINT idResource, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
               const CRuntimeClass* viewClass);
  ~CDocTemplate() override;

  // The part index of the template string resource; FALSE when it is missing or empty.
  BOOL GetDocString(CString& text, DocStringIndex index) const;
  UINT GetResourceId() const { return m_nIDResource; }

  virtual CDocument* CreateNewDocument();
  virtual CFrameWnd* CreateNewFrame(CDocument* doc, CFrameWnd* other);
  virtual void InitialUpdateFrame(CFrameWnd* frame, CDocument* doc, BOOL makeVisible = TRUE);
  // Makes (or, for a single-document template, reuses) the document and shows it; null on failure.
  virtual CDocument* OpenDocumentFile(LPCSTR path, BOOL makeVisible = TRUE) = 0;
  virtual void AddDocument(CDocument* doc);
  virtual void RemoveDocument(CDocument* doc);
  virtual POSITION GetFirstDocPosition() const = 0;
  virtual CDocument* GetNextDoc(POSITION& position) const = 0;
  // Closes every document of the template.
  void CloseAllDocuments(BOOL endSession);

 protected:
  UINT m_nIDResource;
  const CRuntimeClass* m_pDocClass;
  const CRuntimeClass* m_pFrameClass;
  const CRuntimeClass* m_pViewClass;
};

class CSingleDocTemplate : public CDocTemplate {
  DECLARE_DYNAMIC(CSingleDocTemplate)

 public:
  using CDocTemplate::CDocTemplate;
  ~CSingleDocTemplate() override;

  CDocument* OpenDocumentFile(LPCSTR path, BOOL makeVisible = TRUE) override;
  void AddDocument(CDocument* doc) override;
  void RemoveDocument(CDocument* doc) override;
  POSITION GetFirstDocPosition() const override;
  CDocument* GetNextDoc(POSITION& position) const override;

 private:
  CDocument* m_pOnlyDoc = nullptr;
};
