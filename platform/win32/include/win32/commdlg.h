// The common Save As and Open dialogs. A test's sink answers first; with a display the person answers at
// a modal dialog listing the sysroot's folders (the folder list, the file name, OK and Cancel); without
// one the dialog is cancelled.
#pragma once
#include <functional>
#include <string>

#include "win32/types.h"
#include "win32/user.h"

constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

struct OPENFILENAME {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;  // pairs of description and pattern, each ended by '\0', the list by another '\0'
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPSTR lpstrFile;  // in: the proposed name; out: the chosen path
  DWORD nMaxFile;
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;  // the program's folder (C:\WINDOWS) when null
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCSTR lpstrDefExt;  // added to a name without an extension
  LPARAM lCustData;
  void* lpfnHook;
  LPCSTR lpTemplateName;
};
using LPOPENFILENAME = OPENFILENAME*;

// TRUE with the path in lpstrFile when the person chose one; FALSE when cancelled.
BOOL GetSaveFileName(LPOPENFILENAME ofn);
BOOL GetOpenFileName(LPOPENFILENAME ofn);

namespace tavrin {

// A test's answerer: gets whether the dialog saves, its title and its proposed name; returns the chosen
// path, or "" for Cancel. An empty function removes it.
using FileDialogSink = std::function<std::string(bool save, const std::string& title, const std::string& proposed)>;
void SetFileDialogSink(FileDialogSink sink);

}  // namespace tavrin
