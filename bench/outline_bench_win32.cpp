// The outline benchmark's Win32 side: the admin program's tree list (COXTreeCtrl) filling a pop-up window.
#include "controls/tree_ctrl.h"
#include "outline_bench.h"

namespace outline_bench {
namespace {

class Win32Scene : public Scene {
 public:
  explicit Win32Scene(const Model& model) : model_(model) {
    host_.CreateEx(0, "host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 1024, 768, nullptr, 0);
    tree_.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 1024, 768), &host_, 7);
    tree_.ModifyStyle(0, TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS);
    HDITEM heading{};
    heading.mask = HDI_TEXT;
    heading.pszText = const_cast<LPSTR>("Device Info");
    tree_.GetHeaderCtrl()->SetItem(0, &heading);
    tree_.SendMessage(LVM_SETCOLUMNWIDTH, 0, 400);
    tree_.InsertColumn(1, "Port", 0, 80);
    tree_.InsertColumn(2, "Class", 0, 200);
    tree_.InsertColumn(3, "Status", 0, 200);
  }
  ~Win32Scene() override {
    tree_.DestroyWindow();
    host_.DestroyWindow();
  }

  void Reload() override {
    tree_.SetRedraw(FALSE);
    tree_.DeleteAllItems();
    for (size_t s = 0; s < model_.servers.size(); ++s) {
      HTREEITEM server = tree_.InsertItem(model_.servers[s].c_str());
      for (const Model::Device& device : model_.devices[s]) {
        HTREEITEM item = tree_.InsertItem(device.name.c_str(), server);
        tree_.SetSubItem(item, 1, COXTreeCell::kText, device.port.c_str());
        tree_.SetSubItem(item, 2, COXTreeCell::kText, device.cls.c_str());
        tree_.SetSubItem(item, 3, COXTreeCell::kText, device.state.c_str());
      }
      tree_.Expand(server, TVE_EXPAND);
    }
    tree_.SetRedraw(TRUE);
    host_.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
  long Rows() const override { return tree_.GetRowCount(); }

 private:
  const Model& model_;
  CWnd host_;
  COXTreeCtrl tree_;
};

}  // namespace

std::unique_ptr<Scene> MakeWin32Scene(const Model& model) { return std::make_unique<Win32Scene>(model); }

}  // namespace outline_bench
