// TavrinAdmin: the administration program. It runs headless: its windows are objects of the platform
// layer, found and driven by other processes through it.
#include "AdminNetwork.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/MainFrame.h"

namespace {

// The application with its network taken from TAVRIN_ADMIN_NET (production values without it).
class CAdminProgramApp : public CTavrinAdminApp {
 public:
  using CTavrinAdminApp::CTavrinAdminApp;
  BOOL InitInstance() override {
    const AdminNetwork network = AdminNetworkFromEnvironment();
    ApplyToServerComm(network);
    if (!CTavrinAdminApp::InitInstance()) return FALSE;
    // Mapping starts from the message loop at the earliest, so the document is set before it listens.
    if (CTavrinAdminDoc* document = GetDocument()) ApplyToDocument(network, *document);
    return TRUE;
  }
};

}  // namespace

// The one application object.
CAdminProgramApp theApp(GetAdminUiShell());

// The resources (admin/resources) registered themselves before main.
int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
