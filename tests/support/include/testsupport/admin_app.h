// The whole admin application in the test's thread, for the fixtures that run it end to end
// (library tavrin_testsupport_admin).
#pragma once
#include <memory>

#include "admin/TavrinAdminApp.h"

namespace tavrin::test {

// The parameters such tests run with: every trace line, the given GUI refresh period, 3 s to stop mapping.
void SetAdminTestParameters(DWORD guiRefreshPeriodMs);

// Makes the application with "-nosplash" and this thread as its user-interface thread, and initialises it.
void StartAdminApp(std::unique_ptr<CTavrinAdminApp>& app);

// Stops device mapping, closes the documents and ends what StartAdminApp made; nothing when app is null.
void StopAdminApp(std::unique_ptr<CTavrinAdminApp>& app);

}  // namespace tavrin::test
