#include "installer/InstallPath.h"

#include <vector>

#include "win32/shlwapi.h"

namespace installer {

InstallPath::InstallPath(const std::string& text, bool isFolder, bool hasArguments) : source_(text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  if (hasArguments) {
    arguments_ = PathGetArgs(buffer.data());
    PathRemoveArgs(buffer.data());
  }
  PathUnquoteSpaces(buffer.data());
  std::string path = buffer.data();
  if (path.empty()) return;

  // drive, folder, name, extension
  size_t at = 0;
  if (path.size() >= 2 && path[1] == ':') {
    drive_ = path.substr(0, 2);
    at = 2;
  }
  std::string rest = path.substr(at);
  size_t slash = rest.find_last_of("\\/");
  std::string name = slash == std::string::npos ? rest : rest.substr(slash + 1);
  folder_ = slash == std::string::npos ? std::string() : rest.substr(0, slash + 1);
  for (char& c : folder_)
    if (c == '/') c = '\\';
  size_t dot = name.find_last_of('.');
  std::string title = dot == std::string::npos ? name : name.substr(0, dot);
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  relative_ = !folder_.empty() && folder_[0] != '\\';

  if (isFolder) {
    folder_ = AddBackslash(AddBackslash(folder_) + title + extension);
    if (folder_ == "\\\\") folder_ = "\\";
    folderTitle_ = title + extension;
  } else {
    title_ = title;
    std::string plain;
    for (char c : extension)
      if (c != '.') plain += c;
    extension_ = plain;
  }
  std::string part;
  for (char c : folder_) {
    if (c == '\\') {
      if (!part.empty()) parts_.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
}

std::string InstallPath::AddBackslash(const std::string& text, bool forward) {
  if (!text.empty() && (text.back() == '\\' || text.back() == '/')) return text;
  return text + (forward ? "/" : "\\");
}

std::string InstallPath::FileName() const { return extension_.empty() ? title_ : title_ + "." + extension_; }

std::string InstallPath::FullPath(bool withArguments) const {
  std::string path = (drive_.empty() && folder_.empty() && title_.empty()) ? source_ : Location() + FileName();
  if (withArguments && !arguments_.empty()) path += " " + arguments_;
  return path;
}

}  // namespace installer
