#include "mfc/cmdui.h"
#include "mfc/cmdtarget.h"
#include "mfc/object.h"

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
  for (const CRuntimeClass* info = this; info; info = info->m_pBaseClass) {
    if (info == base) return TRUE;
  }
  return FALSE;
}

const CRuntimeClass* CObject::ThisClass() {
  static const CRuntimeClass info{"CObject", nullptr, nullptr};
  return &info;
}

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

namespace mfc {

const MessageEntry* FindEntry(const MessageMap* map, UINT message, UINT id) {
  for (; map; map = map->base) {
    for (const MessageEntry& entry : map->entries) {
      bool keyed = message == kCommandMessage || message == kReflectedCommand || message == kReflectedNotify ||
                   message == kUpdateCommandMessage;
      if (entry.message == message && (!keyed || entry.id == id)) return &entry;
    }
  }
  return nullptr;
}

}  // namespace mfc

const mfc::MessageMap* CCmdTarget::GetMessageMap() const {
  static const mfc::MessageMap map{nullptr, {}};
  return &map;
}

BOOL CCmdTarget::OnCmdMsg(UINT id) {
  const mfc::MessageEntry* entry = mfc::FindEntry(GetMessageMap(), mfc::kCommandMessage, id);
  if (!entry) return FALSE;
  entry->invoke(this, id, 0);
  return TRUE;
}

BOOL CCmdTarget::OnUpdateCommand(CCmdUI* ui) {
  if (!ui) return FALSE;
  const mfc::MessageEntry* entry = mfc::FindEntry(GetMessageMap(), mfc::kUpdateCommandMessage, ui->m_nID);
  if (!entry) return FALSE;
  ui->m_bContinueRouting = FALSE;
  entry->invoke(this, ui->m_nID, reinterpret_cast<LPARAM>(ui));
  return !ui->m_bContinueRouting;
}

BOOL CCmdTarget::HasCommandHandler(UINT id) {
  return mfc::FindEntry(GetMessageMap(), mfc::kCommandMessage, id) != nullptr;
}
