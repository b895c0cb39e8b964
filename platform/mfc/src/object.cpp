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
      bool keyed = message == kCommandMessage || message == kReflectedCommand || message == kReflectedNotify;
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
