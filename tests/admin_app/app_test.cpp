#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "admin/TavrinAdminApp.h"
#include "admin/Trace.h"
#include "testsupport/sysroot.h"
#include "win32/registry.h"
#include "win32/sysroot.h"
#include "win32/windows.h"

namespace {

std::string ReadLog() {
  std::ifstream in(tavrin::sysroot::MapPath("C:\\WINDOWS\\TavrinAdmin.log"), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Box {
  std::string text, caption;
  UINT type;
};

class AdminAppTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override {
    SysrootTest::SetUp();
    tavrin::SetMessageBoxSink([this](const std::string& text, const std::string& caption, UINT type) {
      boxes.push_back({text, caption, type});
      return IDOK;
    });
    char* argv[] = {arg0};
    app.SetCommandLine(1, argv);
  }
  void TearDown() override {
    tavrin::SetMessageBoxSink({});
    SysrootTest::TearDown();
  }
  void InstallProduct() {
    ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin", "InstallMarker", 1), ERROR_SUCCESS);
  }
  void SetParameter(const char* name, DWORD value) {
    ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tavrin\\Parameters", name, value),
              ERROR_SUCCESS);
  }

  char arg0[16] = "TavrinAdmin";
  CTavrinAdminApp app;
  std::vector<Box> boxes;
};

TEST_F(AdminAppTest, MissingProductKeyShowsTheBoxAndLogsTheTextAtEveryLevel) {
  EXPECT_FALSE(app.InitLogAndParameters());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Client software is not installed !!");
  EXPECT_EQ(boxes[0].caption, "Pelko Admin");
  EXPECT_EQ(boxes[0].type, MB_ICONSTOP);
  app.CloseLog();
  const std::string log = ReadLog();
  // Once, straight into the file (the trace line is not written at the default level 3).
  const std::string line = "\r\n\r\nClient software is not installed !!\r\n\r\n--------- End of Pelko Admin---------\r\n";
  EXPECT_TRUE(log.size() >= line.size() && log.compare(log.size() - line.size(), line.size(), line) == 0) << log;
}

TEST_F(AdminAppTest, ADamagedRegistryIsNamedInTheBoxAndTheLog) {
  std::ofstream(root() / "registry.hive") << "TAVRIN-REGISTRY 9 0000000000000001\nK 1 HKEY_LOCAL_MACHINE\n";
  tavrin::sysroot::SetRoot(root());
  EXPECT_FALSE(app.InitLogAndParameters());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.rfind("Client software is not installed !!\n\nThe registry hive ", 0), 0u) << boxes[0].text;
  EXPECT_TRUE(Contains(boxes[0].text, "has version 9")) << boxes[0].text;
  app.CloseLog();
  EXPECT_TRUE(Contains(ReadLog(), "has version 9")) << ReadLog();
}

TEST_F(AdminAppTest, MissingParametersKeyKeepsTheDefaults) {
  InstallProduct();
  EXPECT_TRUE(app.InitLogAndParameters());
  EXPECT_EQ(app.AppTraceLevel, 3u);
  EXPECT_EQ(app.AppGuiRefreshPeriod, 5000u);
  EXPECT_EQ(app.AppStopDeviceMappingPeriod, 180000u);
  EXPECT_TRUE(boxes.empty());
  app.CloseLog();
  EXPECT_FALSE(Contains(ReadLog(), "not found"));  // informational lines only, not at level 3
}

TEST_F(AdminAppTest, ParametersAreReadAndTracedWithTheValuesInForce) {
  InstallProduct();
  SetParameter("AppTraceLevel", 1);
  SetParameter("AppStopDeviceMappingPeriod", 1234);
  EXPECT_TRUE(app.InitLogAndParameters());
  EXPECT_EQ(app.AppTraceLevel, 1u);
  EXPECT_EQ(app.AppGuiRefreshPeriod, 5000u);
  EXPECT_EQ(app.AppStopDeviceMappingPeriod, 1234u);
  app.CloseLog();
  const std::string log = ReadLog();
  EXPECT_TRUE(Contains(log,
                       "AppGuiRefreshPeriod key not found registry\r\n"
                       "AppTraceLevel=1\r\nAppGuiRefreshPeriod=5000\r\nAppStopDeviceMappingPeriod=1234\r\n"))
      << log;
}

TEST_F(AdminAppTest, TraceLevelGatesInformationalAndErrorLines) {
  InstallProduct();
  ASSERT_TRUE(app.InitLogAndParameters());
  struct Case {
    DWORD level;
    bool info, error;
  };
  for (Case c : {Case{0, true, true}, Case{1, true, true}, Case{2, false, true}, Case{3, false, true},
                 Case{4, false, false}, Case{0xFFFFFFFF, false, false}}) {
    app.AppTraceLevel = c.level;
    const std::string info = "info at " + std::to_string(c.level) + "\n";
    const std::string error = "error at " + std::to_string(c.level) + "\n";
    TraceInfo("%s", info.c_str());
    TraceError("%s", error.c_str());
    TraceAlways("always at %u\n", c.level);
    EXPECT_EQ(IsTraceInfoOn(), c.info);
    EXPECT_EQ(IsTraceErrorOn(), c.error);
  }
  app.CloseLog();
  TraceAlways("after close\n");  // no log, no lock: nothing happens
  const std::string log = ReadLog();
  for (DWORD level : {0u, 1u, 2u, 3u, 4u, 0xFFFFFFFFu}) {
    const std::string n = std::to_string(level);
    EXPECT_EQ(Contains(log, "info at " + n + "\r\n"), level < 2) << level;
    EXPECT_EQ(Contains(log, "error at " + n + "\r\n"), level < 4) << level;
    EXPECT_TRUE(Contains(log, "always at " + n + "\r\n")) << level;
  }
  EXPECT_FALSE(Contains(log, "after close"));
}

TEST_F(AdminAppTest, FileExistenceCheck) {
  InstallProduct();
  ASSERT_TRUE(app.InitLogAndParameters());
  EXPECT_TRUE(app.IsFileExists("C:\\WINDOWS\\TavrinAdmin.log"));
  EXPECT_FALSE(app.IsFileExists("C:\\WINDOWS\\nothing.here"));
  app.CloseLog();
  EXPECT_TRUE(Contains(ReadLog(), "File/Directory Doesn't exist: \r\n"));
}

}  // namespace
