// The server dialogs the document's Server Manager and printer commands run (search, unlock, server
// configuration, firmware upgrade, printer auto-connect). The main frame gives the document this set
// when it makes its panes; while it is null those commands stay disabled.
#pragma once
#include "admin/DocPanes.h"

IServerDialogs* GetAdminServerDialogs();
