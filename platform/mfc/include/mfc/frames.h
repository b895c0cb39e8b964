// Frames beside the main one: the mini frame (a tool window with a small caption), the mini frame that
// carries a floating control bar, and the multiple-document frame whose child frames live in its client
// window. The active child's shared menu, when it has one, is the frame's menu bar.
#pragma once
#include <vector>

#include "mfc/dockbar.h"
#include "mfc/wnd.h"

constexpr DWORD MFS_SYNCACTIVE = 0x0100;
constexpr DWORD MFS_4THICKFRAME = 0x0200;
constexpr DWORD MFS_THICKFRAME = 0x0400;
constexpr DWORD MFS_MOVEFRAME = 0x0800;
constexpr DWORD MFS_BLOCKSYSMENU = 0x1000;
constexpr UINT WM_MDIACTIVATE = 0x0222;
constexpr DWORD WS_EX_MDICHILD = 0x00000040;

class CMiniFrameWnd : public CFrameWnd {
  DECLARE_DYNCREATE(CMiniFrameWnd)

 public:
  // A tool window (WS_EX_TOOLWINDOW) owned by the parent. The framework has one window class: `className`
  // is not used.
  virtual BOOL Create(LPCSTR className, LPCSTR title, DWORD style, const RECT& rect, CWnd* parent = nullptr,
                      UINT id = 0);
};

// The frame of a floating control bar: the bar is its only child and fills it; closing the frame hides
// it with the bar, as the bar's own close would.
class CMiniDockFrameWnd : public CMiniFrameWnd {
  DECLARE_DYNCREATE(CMiniDockFrameWnd)

 public:
  virtual BOOL Create(CWnd* parent, DWORD barStyle);
  using CMiniFrameWnd::Create;
  CControlBar* GetControlBar() const;
  void RecalcLayout() override;
  // Sizes the frame around the bar.
  void FitToBar();

 protected:
  void OnClose() override;
};

class CMDIChildWnd;

class CMDIFrameWnd : public CFrameWnd {
  DECLARE_DYNCREATE(CMDIFrameWnd)

 public:
  // The active child frame (the last one activated that still exists), or null.
  CMDIChildWnd* MDIGetActive() const;
  // Brings the child to the top of the client window and makes it the active one (WM_MDIACTIVATE to the
  // child that stops being active and to the new one: wParam the one deactivated, lParam the one activated).
  void MDIActivate(CWnd* child);
  // The child below the active one becomes active.
  void MDINext();
  int GetChildCount() const { return static_cast<int>(children_.size()); }
  void RecalcLayout() override;

  HWND m_hWndMDIClient = nullptr;
  // The frame's own menu, shown while no child with a menu of its own is active.
  HMENU m_hMenuDefault = nullptr;

 protected:
  // The client window that holds the child frames.
  BOOL OnCreateClient(LPCREATESTRUCT createStruct, CCreateContext* context) override;
  // The active child's commands first.
  BOOL OnCmdMsg(UINT id) override;

 private:
  friend class CMDIChildWnd;
  void ChildGone(CMDIChildWnd* child);
  void ShowMenuOf(CMDIChildWnd* child);
  std::vector<CMDIChildWnd*> children_;  // in activation order, the active one last
  CMDIChildWnd* active_ = nullptr;
  CWnd client_;
};

class CMDIChildWnd : public CFrameWnd {
  DECLARE_DYNCREATE(CMDIChildWnd)

 public:
  // A child frame in the parent's client window (the application's main window when no parent is given),
  // made active.
  virtual BOOL Create(LPCSTR className, LPCSTR title, DWORD style = WS_CHILD | WS_VISIBLE | WS_OVERLAPPEDWINDOW,
                      const RECT& rect = RECT{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT},
                      CMDIFrameWnd* parent = nullptr, CCreateContext* context = nullptr);
  BOOL LoadFrame(UINT idResource, DWORD style = WS_CHILD | WS_VISIBLE | WS_OVERLAPPEDWINDOW, CWnd* parent = nullptr,
                 CCreateContext* context = nullptr) override;
  CMDIFrameWnd* GetMDIFrame() const { return frame_; }
  void MDIActivate();
  void MDIDestroy() { DestroyWindow(); }
  // Called with WM_MDIACTIVATE: whether this child became the active one, and the two windows.
  virtual void OnMDIActivate(BOOL activate, CWnd* activated, CWnd* deactivated);
  const mfc::MessageMap* GetMessageMap() const override;

  // The menu the frame shows while this child is active (null: the frame's own).
  HMENU m_hMenuShared = nullptr;

 protected:
  void OnDestroy() override;

 private:
  LRESULT OnMDIActivateMessage(WPARAM wParam, LPARAM lParam);
  CMDIFrameWnd* frame_ = nullptr;
};
