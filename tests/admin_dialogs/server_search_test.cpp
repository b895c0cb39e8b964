// The search dialog: its countdown, the servers listed once each, and the keys that must not end it.
#include <set>
#include <string>
#include <vector>

#include "admin/Resource.h"
#include "admin/ui/ServerSearchDlg.h"
#include "dialog_fixture.h"

namespace {

// Records what the dialog shows after each of its timer ticks, and can press Stop at a given tick.
class WatchedSearch : public CServerSearchDlg {
 public:
  std::vector<std::string> texts;
  std::vector<int> rows;
  unsigned stopAtTick = 0;
  bool pressKeysFirst = false;

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CServerSearchDlg::OnInitDialog();
    if (pressKeysFirst) {
      PostMessage(WM_KEYDOWN, VK_ESCAPE, 0);
      PostMessage(WM_COMMAND, IDOK, 0);
    }
    if (stopAtTick == 0 && !pressKeysFirst && m_nStartDelayMs > 1000) PostMessage(WM_COMMAND, IDC_SEARCH_STOP, 0);
    return result;
  }
  void OnTimer(UINT_PTR id) override {
    const DWORD before = m_nTicks;
    CServerSearchDlg::OnTimer(id);
    if (m_nTicks == before) return;
    CString text;
    GetDlgItemText(IDC_SEARCH_STATUS, text);
    texts.emplace_back(static_cast<LPCSTR>(text));
    rows.push_back(m_lstServers.GetItemCount());
    if (m_nTicks == stopAtTick) PostMessage(WM_COMMAND, IDC_SEARCH_STOP, 0);
  }
};

std::set<std::string> Addresses(const ServerDiscoveryList& list) {
  std::set<std::string> out;
  for (POSITION position = list.GetHeadPosition(); position != nullptr;) out.insert(list.GetNext(position).ServerIp);
  return out;
}

TEST_F(DialogTest, SearchCountsDownAndListsEachServerOnce) {
  StartServers(21, 3);
  ServerDiscoveryList found;
  WatchedSearch search;
  search.m_pServerList = &found;
  search.m_nStartDelayMs = 10;
  search.m_nTickMs = 100;
  search.pressKeysFirst = true;  // Esc and Enter change nothing
  EXPECT_EQ(search.DoModal(), IDOK);
  ASSERT_EQ(search.texts.size(), 5u);
  for (int tick = 0; tick < 5; ++tick) {
    const std::string expected = "Found " + std::to_string(search.rows[tick]) +
                                 " Server(s), remaining time = " + std::to_string(4 - tick) + " second(s)";
    EXPECT_EQ(search.texts[tick], expected);
  }
  // Each server answers every request; consecutive answers of one server give one row.
  EXPECT_EQ(Addresses(found), (std::set<std::string>{"127.0.0.21", "127.0.0.22", "127.0.0.23"}));
  EXPECT_LE(search.rows.back(), 3 * 5);
  EXPECT_GE(search.rows.back(), 3);
  EXPECT_EQ(search.m_ServerComm.GetEnumThreadHandle(), nullptr) << "the collecting thread was waited for";
}

TEST_F(DialogTest, SearchWithoutAnswersEndsEmptyAndStopEndsItAtOnce) {
  StartServers(24, 1);
  ServerCommSettings settings = GetDefaultServerCommSettings();
  settings.discoveryAddress = "127.0.0.25";  // nobody answers there
  SetDefaultServerCommSettings(settings);
  {
    ServerDiscoveryList found;
    WatchedSearch search;
    search.m_pServerList = &found;
    search.m_nStartDelayMs = 10;
    search.m_nTickMs = 20;
    EXPECT_EQ(search.DoModal(), IDOK);
    ASSERT_EQ(search.texts.size(), 5u);
    EXPECT_EQ(search.texts.back(), "Found 0 Server(s), remaining time = 0 second(s)");
    EXPECT_TRUE(found.IsEmpty());
  }
  {
    ServerDiscoveryList found;
    WatchedSearch search;
    search.m_pServerList = &found;
    search.m_nStartDelayMs = 10;
    search.m_nTickMs = 20;
    search.stopAtTick = 2;
    EXPECT_EQ(search.DoModal(), IDOK);
    EXPECT_EQ(search.texts.size(), 2u);
  }
  {
    // Stop before the discovery started: there is no thread to wait for.
    ServerDiscoveryList found;
    WatchedSearch search;
    search.m_pServerList = &found;
    search.m_nStartDelayMs = 60000;
    EXPECT_EQ(search.DoModal(), IDOK);
    EXPECT_TRUE(search.texts.empty());
  }
}

}  // namespace
