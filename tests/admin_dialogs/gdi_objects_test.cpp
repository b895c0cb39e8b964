// Every dialog of the Server Manager gives back the pictures, fonts and brushes it made: opened and closed
// twenty times, the process's live drawing objects are where they were after the first time.
#include <functional>

#include "dialog_fixture.h"
#include "win32/gdi_hooks.h"

namespace {

class GdiObjectsTest : public DialogTest {
 protected:
  // The live objects after the first run and after 20 more.
  void ExpectNoGrowth(const char* name, const std::function<void()>& run) {
    SCOPED_TRACE(name);
    run();
    const size_t baseline = tavrin::gdi::LiveObjectCount();
    for (int i = 0; i < 20; ++i) run();
    EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
  }
};

TEST_F(GdiObjectsTest, EveryDialogClosedTwentyTimesLeavesNoDrawingObjects) {
  StartServers(61, 1);
  PatientCommands();
  DialogLists lists(61);
  ASSERT_TRUE(lists.doc.CreateEventsAndLocks());
  for (const DialogOpening& dialog : ServerManagerDialogs())
    ExpectNoGrowth(dialog.name, [&] { EXPECT_EQ(dialog.open(lists, nullptr).result, dialog.closedWith); });
  lists.doc.CleanUp();
}

}  // namespace
