#include "admin_gui_fixture.h"

#include <sstream>

namespace admin_gui {

bool HasCell(const Row& row, const std::string& text) {
  std::istringstream cells(row.cells);
  for (std::string cell; std::getline(cells, cell, '|');)
    if (cell == text) return true;
  return false;
}

std::string Field(const std::string& line, const std::string& key) {
  const std::string quoted = " " + key + "=\"";
  size_t at = line.find(quoted);
  if (at != std::string::npos) {
    at += quoted.size();
    return line.substr(at, line.find('"', at) - at);
  }
  at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  at += key.size() + 2;
  return line.substr(at, line.find(' ', at) - at);
}

std::vector<Window> ParseWindows(const std::string& listing) {
  std::vector<Window> windows;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    if (line.compare(start, 5, "row=\"") == 0) {
      const std::string fields = " " + line.substr(start);
      Row row;
      row.cells = Field(fields, "row");
      sscanf(Field(fields.substr(fields.rfind("\" rect=") + 1), "rect").c_str(), "%d,%d,%d,%d", &row.left, &row.top,
             &row.right, &row.bottom);
      if (!windows.empty()) windows.back().rows.push_back(row);
      continue;
    }
    if (line.compare(start, 2, "0x") != 0) continue;
    Window w;
    w.depth = static_cast<int>(start) / 2;
    w.handle = line.substr(start, line.find(' ', start) - start);
    w.cls = Field(line, "class");
    w.text = Field(line, "text");
    w.id = atol(Field(line, "id").c_str());
    sscanf(Field(line, "rect").c_str(), "%d,%d,%d,%d", &w.left, &w.top, &w.right, &w.bottom);
    w.visible = Field(line, "visible") == "1";
    w.enabled = Field(line, "enabled") == "1";
    const std::string checked = Field(line, "checked");
    if (!checked.empty()) w.checked = atoi(checked.c_str());
    windows.push_back(w);
  }
  return windows;
}

}  // namespace admin_gui
