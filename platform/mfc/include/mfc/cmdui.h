// Command user-interface updates: a CCmdUI stands for one menu item while the targets' update handlers
// (mfc::OnUpdateCommand entries) enable, check or rename it; AfxUpdateMenuPopup runs that pass over a popup
// before it shows, as a frame does at WM_INITMENUPOPUP.
#pragma once
#include "mfc/cmdtarget.h"
#include "mfc/menu.h"

class CCmdUI {
 public:
  virtual ~CCmdUI() = default;
  UINT m_nID = 0;
  UINT m_nIndex = 0;
  UINT m_nIndexMax = 0;
  CMenu* m_pMenu = nullptr;     // the popup whose item this is
  CMenu* m_pSubMenu = nullptr;  // set when the item is itself a popup (represented by its first item)
  BOOL m_bEnableChanged = FALSE;
  BOOL m_bContinueRouting = FALSE;

  virtual void Enable(BOOL on = TRUE);
  virtual void SetCheck(int check = 1);  // 0 clear, 1 checked
  virtual void SetRadio(BOOL on = TRUE);
  virtual void SetText(LPCSTR text);
  // The handler lets the next target in the route have its say too.
  void ContinueRouting() { m_bContinueRouting = TRUE; }
  // Runs the target's update handler for m_nID; without one (and when asked), the item is enabled only
  // when some target handles the command. Whether an update handler ran.
  BOOL DoUpdate(CCmdTarget* target, BOOL disableIfNoHandler);
};

namespace mfc {

// An entry for an update handler of a command; the handler is void Class::Handler(CCmdUI*).
template <auto Method>
constexpr MessageEntry OnUpdateCommand(UINT id) {
  using T = typename MethodClass<decltype(Method)>::type;
  return {kUpdateCommandMessage, id, [](CCmdTarget* target, WPARAM, LPARAM lParam) -> LRESULT {
            (static_cast<T*>(target)->*Method)(reinterpret_cast<CCmdUI*>(lParam));
            return 0;
          }};
}

}  // namespace mfc

// The update pass over a popup's items, routed to target; system commands (0xF000 and above) and popups
// are never disabled for want of a handler. Items added or removed by a handler are stepped over.
void AfxUpdateMenuPopup(CCmdTarget* target, CMenu* popup, BOOL disableIfNoHandler);
