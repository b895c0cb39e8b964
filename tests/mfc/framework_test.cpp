#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mfc/mfc.h"
#include "testsupport/sysroot.h"

namespace {

constexpr UINT kTemplateId = 41100;
constexpr UINT kDocCommand = 100, kViewCommand = 200, kAppCommand = 300, kFrameCommand = 400;
constexpr UINT WM_TEST_CHECK = WM_USER + 7;

std::vector<std::string> g_events;

class TestDoc : public CDocument {
  DECLARE_DYNCREATE(TestDoc)

 public:
  ~TestDoc() override { g_events.push_back("doc deleted"); }
  BOOL OnNewDocument() override {
    g_events.push_back("doc new");
    return CDocument::OnNewDocument();
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnCommand<&TestDoc::OnDocCommand>(kDocCommand)};
    static const mfc::MessageMap map{CDocument::GetMessageMap(), entries};
    return &map;
  }
  void OnDocCommand() { g_events.push_back("doc command"); }
};
IMPLEMENT_DYNCREATE(TestDoc, CDocument)

class TestView : public CView {
  DECLARE_DYNCREATE(TestView)

 public:
  void OnDraw(CDC*) override {}
  void OnInitialUpdate() override { g_events.push_back("view initial update"); }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnCommand<&TestView::OnViewCommand>(kViewCommand)};
    static const mfc::MessageMap map{CView::GetMessageMap(), entries};
    return &map;
  }
  void OnViewCommand() { g_events.push_back("view command"); }
};
IMPLEMENT_DYNCREATE(TestView, CView)

class TestFrame : public CFrameWnd {
  DECLARE_DYNCREATE(TestFrame)

 public:
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {
        mfc::OnMessage<&TestFrame::OnCheck>(WM_TEST_CHECK),
        mfc::OnCommand<&TestFrame::OnFrameCommand>(kFrameCommand),
    };
    static const mfc::MessageMap map{CFrameWnd::GetMessageMap(), entries};
    return &map;
  }
  LRESULT OnCheck(WPARAM wParam, LPARAM lParam) {
    g_events.push_back("check " + std::to_string(wParam) + "," + std::to_string(lParam));
    for (UINT id : {kViewCommand, kDocCommand, kFrameCommand, kAppCommand, 999u}) SendMessage(WM_COMMAND, id, 0);
    PostMessage(WM_CLOSE);
    return 0;
  }
  void OnFrameCommand() { g_events.push_back("frame command"); }
};
IMPLEMENT_DYNCREATE(TestFrame, CFrameWnd)

class TestApp : public CWinApp {
 public:
  BOOL InitInstance() override {
    AddDocTemplate(new CSingleDocTemplate(kTemplateId, RUNTIME_CLASS(TestDoc), RUNTIME_CLASS(TestFrame),
                                          RUNTIME_CLASS(TestView)));
    CCommandLineInfo info;
    ParseCommandLine(info);
    if (!ProcessShellCommand(info)) return FALSE;
    mainTitle.Empty();
    m_pMainWnd->GetWindowText(mainTitle);
    mainVisible = m_pMainWnd->IsWindowVisible();
    auto* frame = static_cast<CFrameWnd*>(m_pMainWnd);
    activeView = frame->GetActiveView();
    activeIsTestDoc = frame->GetActiveDocument() && frame->GetActiveDocument()->IsKindOf(RUNTIME_CLASS(TestDoc));
    m_pMainWnd->PostMessage(WM_TEST_CHECK, 1, 2);
    return initResult;
  }
  int ExitInstance() override {
    g_events.push_back("exit instance");
    return CWinApp::ExitInstance() + 40;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageEntry entries[] = {mfc::OnCommand<&TestApp::OnAppCommand>(kAppCommand)};
    static const mfc::MessageMap map{CWinApp::GetMessageMap(), entries};
    return &map;
  }
  void OnAppCommand() { g_events.push_back("app command"); }

  BOOL initResult = TRUE;
  CString mainTitle;
  BOOL mainVisible = FALSE;
  CView* activeView = nullptr;
  bool activeIsTestDoc = false;
};

class FrameworkTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    g_events.clear();
    mfc::RegisterStrings({{kTemplateId, "TestWindow\n\nTest\n\n\nTest.Document\nTest Document"}});
  }
};

TEST_F(FrameworkTest, TemplateBuildsTheDocumentFrameAndViewAndRoutesCommands) {
  TestApp app;
  char arg0[] = "/opt/test/TestProgram";
  char* argv[] = {arg0};
  int result = AfxWinMain(1, argv);

  EXPECT_EQ(result, 40);  // ExitInstance's value, WM_QUIT carried 0
  EXPECT_EQ(app.mainTitle, "TestWindow");
  EXPECT_TRUE(app.mainVisible);
  EXPECT_NE(app.activeView, nullptr);
  EXPECT_TRUE(app.activeIsTestDoc);
  EXPECT_EQ(app.m_pMainWnd, nullptr);  // the frame is gone
  EXPECT_EQ(g_events, (std::vector<std::string>{"doc new", "view initial update", "check 1,2", "view command",
                                                "doc command", "frame command", "app command", "doc deleted",
                                                "exit instance"}));
  EXPECT_STREQ(app.m_pszExeName, "TestProgram");
}

TEST_F(FrameworkTest, FailedInitInstanceStillRunsExitInstance) {
  TestApp app;
  app.initResult = FALSE;
  char arg0[] = "TestProgram";
  char* argv[] = {arg0};
  EXPECT_EQ(AfxWinMain(1, argv), 40);
  EXPECT_EQ(g_events.back(), "exit instance");
  // The main window was destroyed with its document's views; the document stays with the template.
  EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST_F(FrameworkTest, CommandLineFlagsAndFileName) {
  CWinApp app("Test");
  char a0[] = "prog", a1[] = "/nosplash", a2[] = "-Embedding", a3[] = "C:\\file.txt";
  char* argv[] = {a0, a1, a2, a3};
  app.SetCommandLine(4, argv);
  CCommandLineInfo info;
  app.ParseCommandLine(info);
  EXPECT_FALSE(info.m_bShowSplash);
  EXPECT_TRUE(info.m_bRunEmbedded);
  EXPECT_EQ(info.m_nShellCommand, CCommandLineInfo::FileOpen);
  EXPECT_EQ(info.m_strFileName, "C:\\file.txt");

  CCommandLineInfo plain;
  char* none[] = {a0};
  app.SetCommandLine(1, none);
  app.ParseCommandLine(plain);
  EXPECT_TRUE(plain.m_bShowSplash);
  EXPECT_EQ(plain.m_nShellCommand, CCommandLineInfo::FileNew);
}

TEST_F(FrameworkTest, MessageBoxesCarryTheApplicationTitle) {
  mfc::RegisterStrings({{AFX_IDS_APP_TITLE, "Framework Title"}});
  CWinApp app;
  char a0[] = "prog";
  char* argv[] = {a0};
  app.SetCommandLine(1, argv);
  std::string seenText, seenCaption;
  UINT seenType = 0;
  tavrin::SetMessageBoxSink([&](const std::string& text, const std::string& caption, UINT type) {
    seenText = text;
    seenCaption = caption;
    seenType = type;
    return IDCANCEL;
  });
  EXPECT_EQ(AfxMessageBox("Question?", MB_OKCANCEL | MB_ICONINFORMATION), IDCANCEL);
  tavrin::SetMessageBoxSink({});
  EXPECT_EQ(seenText, "Question?");
  EXPECT_EQ(seenCaption, "Framework Title");
  EXPECT_EQ(seenType, MB_OKCANCEL | MB_ICONINFORMATION);
}

class LoopThread : public CWinThread {
 public:
  explicit LoopThread(HANDLE ready) : ready_(ready) { m_bAutoDelete = FALSE; }
  BOOL InitInstance() override {
    MSG msg;
    PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists from here on
    SetEvent(ready_);
    return TRUE;
  }
  int ExitInstance() override {
    exitedOnOwnThread = GetCurrentThreadId() == m_nThreadID;
    return CWinThread::ExitInstance();
  }
  bool exitedOnOwnThread = false;

 private:
  HANDLE ready_;
};

TEST_F(FrameworkTest, ThreadRunsItsMessageLoopUntilQuit) {
  HANDLE ready = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  LoopThread thread(ready);
  ASSERT_TRUE(thread.CreateThread());
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  ASSERT_TRUE(thread.PostThreadMessage(WM_QUIT, 5, 0));
  ASSERT_EQ(WaitForSingleObject(thread.m_hThread, 10000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  GetExitCodeThread(thread.m_hThread, &exitCode);
  EXPECT_EQ(exitCode, 5u);
  EXPECT_TRUE(thread.exitedOnOwnThread);
  CloseHandle(ready);
}

TEST(RuntimeClassTest, CreatesByClassAndKnowsItsBases) {
  const CRuntimeClass* info = RUNTIME_CLASS(TestView);
  EXPECT_STREQ(info->m_lpszClassName, "TestView");
  EXPECT_TRUE(info->IsDerivedFrom(RUNTIME_CLASS(CWnd)));
  EXPECT_FALSE(info->IsDerivedFrom(RUNTIME_CLASS(CDocument)));
  EXPECT_EQ(RUNTIME_CLASS(CView)->CreateObject(), nullptr);  // abstract: not creatable
  CObject* doc = RUNTIME_CLASS(TestDoc)->CreateObject();
  ASSERT_NE(doc, nullptr);
  EXPECT_TRUE(doc->IsKindOf(RUNTIME_CLASS(CDocument)));
  delete doc;
  g_events.clear();
}

}  // namespace
