// CCmdTarget and the message maps.
//
// A class that handles messages or commands overrides GetMessageMap and returns a MessageMap: its own
// entries plus a link to its base class's map. Dispatch walks the chain from the most derived class to
// CCmdTarget and runs the first entry that matches. Entries are made with OnMessage and OnCommand:
//
//   const mfc::MessageMap* CMainFrame::GetMessageMap() const {
//     static const mfc::MessageEntry entries[] = {
//         mfc::OnMessage<&CMainFrame::OnCloseProgram>(WM_USER + 16),   // LRESULT (WPARAM, LPARAM)
//         mfc::OnCommand<&CMainFrame::OnAppAbout>(ID_APP_ABOUT),       // void ()
//     };
//     static const mfc::MessageMap map{CFrameWnd::GetMessageMap(), entries};
//     return &map;
//   }
#pragma once
#include <span>

#include "mfc/object.h"

struct NMHDR;

class CCmdTarget;
class CCmdUI;

namespace mfc {

constexpr UINT kCommandMessage = 0x0111;  // WM_COMMAND
// A message a parent reflects back to the child control that sent it is WM_REFLECT_BASE + the message.
constexpr UINT kReflectBase = 0xBC00;
constexpr UINT kReflectedCommand = kReflectBase + 0x0111;  // entries keyed by notification code
constexpr UINT kReflectedNotify = kReflectBase + 0x004E;   // WM_NOTIFY, keyed by NMHDR::code
// Update handlers of commands (cmdui.h), keyed by command id; beyond every window message.
constexpr UINT kUpdateCommandMessage = 0x10000;

struct MessageEntry {
  UINT message;  // the window message; kCommandMessage for a command entry
  UINT id;       // the command id of a command entry; 0 otherwise
  LRESULT (*invoke)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);
};

struct MessageMap {
  const MessageMap* base;  // the base class's map, or null at the root
  std::span<const MessageEntry> entries;
};

template <class Method>
struct MethodClass;
template <class T, class R, class... Args>
struct MethodClass<R (T::*)(Args...)> {
  using type = T;
};

// An entry for a window message; the handler is LRESULT Class::Handler(WPARAM, LPARAM).
template <auto Method>
constexpr MessageEntry OnMessage(UINT message) {
  using T = typename MethodClass<decltype(Method)>::type;
  return {message, 0, [](CCmdTarget* target, WPARAM wParam, LPARAM lParam) -> LRESULT {
            return (static_cast<T*>(target)->*Method)(wParam, lParam);
          }};
}

// An entry for a menu or control command; the handler is void Class::Handler().
template <auto Method>
constexpr MessageEntry OnCommand(UINT id) {
  using T = typename MethodClass<decltype(Method)>::type;
  return {kCommandMessage, id, [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT {
            (static_cast<T*>(target)->*Method)();
            return 0;
          }};
}

// The key of a control notification in command routing: id and notification code.
constexpr UINT ControlKey(UINT id, UINT code) { return (id & 0xFFFF) | (code << 16); }

// An entry for one notification code of a control (EN_CHANGE, CBN_SELCHANGE...) sent to its parent;
// the handler is void Class::Handler().
template <auto Method>
constexpr MessageEntry OnControl(UINT code, UINT id) {
  using T = typename MethodClass<decltype(Method)>::type;
  return {kCommandMessage, ControlKey(id, code), [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT {
            (static_cast<T*>(target)->*Method)();
            return 0;
          }};
}

// An entry for a message reflected back to the control that sent it; the handler is
// LRESULT Class::Handler(WPARAM, LPARAM) with the parameters the parent got.
template <auto Method>
constexpr MessageEntry OnReflect(UINT message) {
  return OnMessage<Method>(kReflectBase + message);
}

// A control's own handler of one of its notifications (WM_COMMAND code) reflected by its parent;
// the handler is void Class::Handler().
template <auto Method>
constexpr MessageEntry OnControlReflect(UINT code) {
  using T = typename MethodClass<decltype(Method)>::type;
  return {kReflectedCommand, code, [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT {
            (static_cast<T*>(target)->*Method)();
            return 0;
          }};
}

// A control's own handler of a WM_NOTIFY code reflected by its parent; the handler is
// void Class::Handler(NMHDR*, LRESULT*).
template <auto Method>
constexpr MessageEntry OnNotifyReflect(UINT code) {
  using T = typename MethodClass<decltype(Method)>::type;
  return {kReflectedNotify, code, [](CCmdTarget* target, WPARAM, LPARAM lParam) -> LRESULT {
            LRESULT result = 0;
            (static_cast<T*>(target)->*Method)(reinterpret_cast<NMHDR*>(lParam), &result);
            return result;
          }};
}

// The first entry of the chain that handles message (and id, for commands and reflected
// notifications), or null.
const MessageEntry* FindEntry(const MessageMap* map, UINT message, UINT id);

}  // namespace mfc

class CCmdTarget : public CObject {
  DECLARE_DYNAMIC(CCmdTarget)

 public:
  virtual const mfc::MessageMap* GetMessageMap() const;
  // Runs the command handler of this object's map; FALSE when it has none for id.
  virtual BOOL OnCmdMsg(UINT id);
  // Runs the update handler for the item's command along the same route; FALSE when none ran (or every
  // one that ran asked to continue routing).
  virtual BOOL OnUpdateCommand(CCmdUI* ui);
  // Whether the command has a handler along the route (nothing runs).
  virtual BOOL HasCommandHandler(UINT id);

  // The hourglass while a long operation runs: Begin and End nest (the application's DoWaitCursor);
  // Restore shows it again after something else set the cursor (a message box).
  void BeginWaitCursor();
  void EndWaitCursor();
  void RestoreWaitCursor();
};
