// TavrinAdmin: the administration program. It runs headless: its windows are objects of the platform
// layer, found and driven by other processes through it.
#include "admin/TavrinAdminApp.h"
#include "admin/ui/MainFrame.h"

// The one application object.
CTavrinAdminApp theApp(GetAdminUiShell());

int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
