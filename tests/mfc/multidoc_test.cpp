// The multi-document template: a document and a frame for every opening, all closed together.
#include "mfc/mfc.h"
#include "testsupport/sysroot.h"

namespace {

class MultiDoc : public CDocument {
  DECLARE_DYNCREATE(MultiDoc)
};
IMPLEMENT_DYNCREATE(MultiDoc, CDocument)

class MultiView : public CView {
  DECLARE_DYNCREATE(MultiView)

 public:
  void OnDraw(CDC*) override {}
};
IMPLEMENT_DYNCREATE(MultiView, CView)

int CountDocs(const CDocTemplate& docTemplate) {
  int count = 0;
  POSITION position = docTemplate.GetFirstDocPosition();
  while (position) {
    docTemplate.GetNextDoc(position);
    ++count;
  }
  return count;
}

using tavrin::test::SysrootTest;

TEST_F(SysrootTest, MultiDocTemplatesOpenADocumentAndFrameEachTime) {
  CMultiDocTemplate docTemplate(0, RUNTIME_CLASS(MultiDoc), RUNTIME_CLASS(CFrameWnd), RUNTIME_CLASS(MultiView));
  EXPECT_EQ(docTemplate.m_hMenuShared, nullptr) << "no resource, no shared menu";
  CDocument* first = docTemplate.OpenDocumentFile(nullptr, FALSE);
  CDocument* second = docTemplate.OpenDocumentFile(nullptr, FALSE);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(CountDocs(docTemplate), 2);
  EXPECT_EQ(docTemplate.m_nUntitledCount, 2u);
  POSITION position = first->GetFirstViewPosition();
  ASSERT_NE(position, nullptr);
  CView* view = first->GetNextView(position);
  ASSERT_NE(view->GetParentFrame(), nullptr);
  EXPECT_TRUE(IsWindow(view->GetParentFrame()->m_hWnd));
  docTemplate.CloseAllDocuments(FALSE);
  EXPECT_EQ(CountDocs(docTemplate), 0) << "each document left the template as it closed";
}

}  // namespace
