// The common Save As and Open dialogs: a modal dialog over the standard controls that lists a folder of
// the sysroot ("[name]" for folders, "[..]" for the one above, then the files the filter lets through), a
// file name edit that has the focus, and OK and Cancel.
#include <fnmatch.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "win32/commdlg.h"
#include "win32/controls.h"
#include "win32/dialog_template.h"
#include "win32/file.h"
#include "win32/window_manager.h"

namespace tavrin {
namespace {

constexpr int kFolderText = 1088, kFileList = 1120, kFileName = 1152, kLookInLabel = 1091, kNameLabel = 1090;
constexpr char kProgramFolder[] = "C:\\WINDOWS";

struct SinkSlot {
  std::mutex lock;
  FileDialogSink sink;
};

SinkSlot& Slot() {
  static auto* slot = new SinkSlot;  // never destroyed, as the message box's
  return *slot;
}

struct Chooser {
  bool save = false;
  DWORD flags = 0;
  std::string folder;                 // Windows form, no trailing '\' but at a drive's root ("C:\")
  std::vector<std::string> patterns;  // of the chosen filter
  std::string defaultExtension;
  std::string chosen;
};

std::string Joined(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributes(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Parent(const std::string& folder) {
  const size_t cut = folder.find_last_of('\\');
  if (cut == std::string::npos) return folder;
  return cut <= 2 ? folder.substr(0, 3) : folder.substr(0, cut);  // "C:\" is the top
}

// The patterns of the filter's `index`th pair (1-based; the first when 0): "*.txt;*.log".
std::vector<std::string> FilterPatterns(LPCSTR filter, DWORD index) {
  std::vector<std::string> patterns;
  if (!filter) return {"*"};
  for (DWORD pair = 1; *filter; ++pair) {
    filter += strlen(filter) + 1;  // the description
    if (!*filter) break;
    if (pair == std::max<DWORD>(index, 1)) {
      std::string list = filter;
      for (size_t start = 0; start <= list.size();) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) patterns.push_back(list.substr(start, end - start));
        start = end + 1;
      }
      break;
    }
    filter += strlen(filter) + 1;
  }
  if (patterns.empty()) patterns.push_back("*");
  return patterns;
}

void FillList(HWND dialog, const Chooser& chooser) {
  SetDlgItemText(dialog, kFolderText, chooser.folder.c_str());
  HWND list = GetDlgItem(dialog, kFileList);
  SendMessage(list, LB_RESETCONTENT, 0, 0);
  std::vector<std::string> folders, files;
  WIN32_FIND_DATA found{};
  HANDLE search = FindFirstFile(Joined(chooser.folder, "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        folders.push_back("[" + name + "]");
      } else if (std::any_of(chooser.patterns.begin(), chooser.patterns.end(), [&](const std::string& pattern) {
                   return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
                 })) {
        files.push_back(name);
      }
    } while (FindNextFile(search, &found));
    FindClose(search);
  }
  std::sort(folders.begin(), folders.end());
  std::sort(files.begin(), files.end());
  if (chooser.folder.size() > 3) folders.insert(folders.begin(), "[..]");
  for (const auto* group : {&folders, &files})
    for (const std::string& entry : *group) SendMessage(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

std::string ListEntry(HWND dialog, LRESULT index) {
  char text[MAX_PATH + 2] = {};
  if (index < 0 || SendDlgItemMessage(dialog, kFileList, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0) >= MAX_PATH)
    return "";
  SendDlgItemMessage(dialog, kFileList, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
  return text;
}

// A folder entry's name ("[name]" -> "name"), or "" for a file.
std::string FolderOfEntry(const std::string& entry) {
  return entry.size() > 2 && entry.front() == '[' && entry.back() == ']' ? entry.substr(1, entry.size() - 2) : "";
}

void Enter(HWND dialog, Chooser& chooser, const std::string& name) {
  chooser.folder = name == ".." ? Parent(chooser.folder) : Joined(chooser.folder, name);
  FillList(dialog, chooser);
  SetDlgItemText(dialog, kFileName, "");
}

// OK, or a double click on a file: a folder named is entered; a file ends the dialog when it may be taken.
void Choose(HWND dialog, Chooser& chooser) {
  char typed[MAX_PATH] = {};
  GetDlgItemText(dialog, kFileName, typed, sizeof typed);
  std::string name = typed;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  if (name.empty()) {
    const std::string folder = FolderOfEntry(ListEntry(dialog, SendDlgItemMessage(dialog, kFileList, LB_GETCURSEL, 0, 0)));
    if (!folder.empty()) Enter(dialog, chooser, folder);
    return;
  }
  const bool absolute = name.find(':') != std::string::npos || name.front() == '\\';
  std::string path = absolute ? name : Joined(chooser.folder, name);
  if (name == ".." || IsFolder(path)) {
    if (name == "..") Enter(dialog, chooser, "..");
    else {
      chooser.folder = path;
      FillList(dialog, chooser);
      SetDlgItemText(dialog, kFileName, "");
    }
    return;
  }
  const size_t last = path.find_last_of('\\');
  if (!chooser.defaultExtension.empty() && path.find('.', last == std::string::npos ? 0 : last) == std::string::npos)
    path += "." + chooser.defaultExtension;
  const bool exists = GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  char caption[64] = {};
  GetWindowText(dialog, caption, sizeof caption);
  if (!chooser.save && (chooser.flags & OFN_FILEMUSTEXIST) && !exists) {
    MessageBox(dialog, (path + "\nFile not found.\nPlease verify the correct file name was given.").c_str(), caption,
               MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if ((chooser.flags & OFN_PATHMUSTEXIST) && last != std::string::npos && !IsFolder(Parent(path))) {
    MessageBox(dialog, (path + "\nPath does not exist.").c_str(), caption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (chooser.save && (chooser.flags & OFN_OVERWRITEPROMPT) && exists &&
      MessageBox(dialog, (path + " already exists.\nDo you want to replace it?").c_str(), caption,
                 MB_YESNO | MB_ICONEXCLAMATION) != IDYES)
    return;
  chooser.chosen = path;
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK ChooserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* chooser = reinterpret_cast<Chooser*>(GetWindowLongPtr(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      chooser = reinterpret_cast<Chooser*>(lParam);
      SetWindowLongPtr(dialog, DWLP_USER, lParam);
      FillList(dialog, *chooser);
      SetFocus(GetDlgItem(dialog, kFileName));
      return FALSE;
    case WM_COMMAND: {
      if (!chooser) return FALSE;
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      if (id == IDOK) {
        Choose(dialog, *chooser);
      } else if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      } else if (id == kFileList && (code == LBN_SELCHANGE || code == LBN_DBLCLK)) {
        const std::string entry = ListEntry(dialog, SendDlgItemMessage(dialog, kFileList, LB_GETCURSEL, 0, 0));
        const std::string folder = FolderOfEntry(entry);
        if (folder.empty()) SetDlgItemText(dialog, kFileName, entry.c_str());
        if (code == LBN_DBLCLK) {
          if (!folder.empty()) Enter(dialog, *chooser, folder);
          else Choose(dialog, *chooser);
        }
      }
      return TRUE;
    }
    default:
      return FALSE;
  }
}

BOOL RunFileDialog(LPOPENFILENAME ofn, bool save) {
  if (!ofn || !ofn->lpstrFile || ofn->nMaxFile == 0) return FALSE;
  const std::string title = ofn->lpstrTitle ? ofn->lpstrTitle : save ? "Save As" : "Open";
  const std::string proposed(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
  std::string chosen;
  FileDialogSink sink;
  {
    std::lock_guard guard(Slot().lock);
    sink = Slot().sink;
  }
  if (sink) {
    chosen = sink(save, title, proposed);
  } else if (win::DisplayRunning()) {
    controls::RegisterStandardControls();
    Chooser chooser;
    chooser.save = save;
    chooser.flags = ofn->Flags;
    chooser.folder = ofn->lpstrInitialDir && *ofn->lpstrInitialDir ? ofn->lpstrInitialDir : kProgramFolder;
    if (chooser.folder.size() > 3 && chooser.folder.back() == '\\') chooser.folder.pop_back();
    chooser.patterns = FilterPatterns(ofn->lpstrFilter, ofn->nFilterIndex);
    chooser.defaultExtension = ofn->lpstrDefExt ? ofn->lpstrDefExt : "";
    if (!chooser.defaultExtension.empty() && chooser.defaultExtension[0] == '.') chooser.defaultExtension.erase(0, 1);
    constexpr uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kListBox = 0x83;
    win::DialogTemplate form(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 0, 0, 260, 164, title);
    form.Control("Look in:", kLookInLabel, kStatic, 7, 8, 40, 8, 0)
        .Control("", kFolderText, kStatic, 50, 8, 203, 8, 0)
        .Control("", kFileList, kListBox, 7, 22, 246, 98, LBS_NOTIFY | WS_VSCROLL | WS_BORDER | WS_TABSTOP)
        .Control("File &name:", kNameLabel, kStatic, 7, 129, 40, 8, 0)
        .Control(proposed, kFileName, kEdit, 50, 127, 148, 12, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL)
        .Control(save ? "&Save" : "&Open", IDOK, kButton, 203, 126, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP)
        .Control("Cancel", IDCANCEL, kButton, 203, 144, 50, 14, WS_TABSTOP);
    if (DialogBoxIndirectParam(nullptr, form.Get(), ofn->hwndOwner, ChooserProc, reinterpret_cast<LPARAM>(&chooser)) ==
        IDOK)
      chosen = chooser.chosen;
  }
  if (chosen.empty() || chosen.size() >= ofn->nMaxFile) return FALSE;
  memcpy(ofn->lpstrFile, chosen.c_str(), chosen.size() + 1);
  const size_t slash = chosen.find_last_of('\\');
  ofn->nFileOffset = static_cast<WORD>(slash == std::string::npos ? 0 : slash + 1);
  const size_t dot = chosen.find('.', ofn->nFileOffset);
  ofn->nFileExtension = static_cast<WORD>(dot == std::string::npos ? chosen.size() : dot + 1);
  return TRUE;
}

}  // namespace

void SetFileDialogSink(FileDialogSink sink) {
  std::lock_guard guard(Slot().lock);
  Slot().sink = std::move(sink);
}

}  // namespace tavrin

BOOL GetSaveFileName(LPOPENFILENAME ofn) { return tavrin::RunFileDialog(ofn, true); }
BOOL GetOpenFileName(LPOPENFILENAME ofn) { return tavrin::RunFileDialog(ofn, false); }
