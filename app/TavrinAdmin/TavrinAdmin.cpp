// TavrinAdmin: the administration program. It runs headless: its windows are objects of the platform
// layer, found and driven by other processes through it.
#include "admin/TavrinAdminApp.h"
#include "admin/ui/MainFrame.h"

// The one application object.
CTavrinAdminApp theApp(GetAdminUiShell());

void RegisterTavrinAdminResources();  // TavrinAdminResources.cpp, made from TavrinAdmin.res

int main(int argc, char** argv) {
  RegisterTavrinAdminResources();
  return AfxWinMain(argc, argv);
}
