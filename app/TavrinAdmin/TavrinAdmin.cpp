// TavrinAdmin: the administration program. It runs headless: its windows are objects of the platform
// layer, found and driven by other processes through it.
#include "admin/TavrinAdminApp.h"

// The one application object.
CTavrinAdminApp theApp;

void RegisterTavrinAdminResources();  // TavrinAdminResources.cpp, made from TavrinAdmin.res

int main(int argc, char** argv) {
  RegisterTavrinAdminResources();
  return AfxWinMain(argc, argv);
}
