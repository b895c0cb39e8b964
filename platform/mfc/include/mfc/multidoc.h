// A document template for any number of open documents, each with its own frame; the frames share one
// menu loaded from the template's resource.
#pragma once
#include "mfc/doc.h"

class CMultiDocTemplate : public CDocTemplate {
  DECLARE_DYNAMIC(CMultiDocTemplate)

 public:
  // Loads the shared menu of the resource (none when there is no such menu).
  CMultiDocTemplate(UINT idResource, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
                    const CRuntimeClass* viewClass);
  ~CMultiDocTemplate() override;  // closes nothing: deletes the documents left and destroys the shared menu

  CDocument* OpenDocumentFile(LPCSTR path, BOOL makeVisible = TRUE) override;
  void AddDocument(CDocument* doc) override;
  void RemoveDocument(CDocument* doc) override;
  POSITION GetFirstDocPosition() const override;
  CDocument* GetNextDoc(POSITION& position) const override;

  HMENU m_hMenuShared = nullptr;
  // Numbers the untitled documents.
  UINT m_nUntitledCount = 0;

 private:
  CList<CDocument*, CDocument*> m_docList;
};
