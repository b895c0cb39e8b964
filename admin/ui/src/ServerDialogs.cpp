#include "admin/ui/ServerDialogs.h"

// The dialogs are not part of the program yet.
IServerDialogs* GetAdminServerDialogs() { return nullptr; }
