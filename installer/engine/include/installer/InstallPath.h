// A path split into drive, folder, file title, extension and arguments, and put together again.
#pragma once
#include <string>
#include <vector>

namespace installer {

class InstallPath {
 public:
  InstallPath() = default;
  // `isFolder`: the whole text names a folder (name and extension belong to it). `hasArguments`: the text
  // may carry arguments after the path, which are cut off and kept.
  InstallPath(const std::string& text, bool isFolder = false, bool hasArguments = false);

  // Appends "\" ("/" with forward) unless the text already ends with either.
  static std::string AddBackslash(const std::string& text, bool forward = false);

  const std::string& Drive() const { return drive_; }
  const std::string& Folder() const { return folder_; }
  const std::string& FileTitle() const { return title_; }
  const std::string& Extension() const { return extension_; }  // without dots
  const std::string& Arguments() const { return arguments_; }
  bool IsRelative() const { return relative_; }
  const std::vector<std::string>& FolderParts() const { return parts_; }

  std::string Location() const { return drive_ + folder_; }
  std::string FileName() const;  // title, and "." and the extension when there is one
  std::string FullPath(bool withArguments = false) const;

 private:
  std::string source_, drive_, folder_, title_, folderTitle_, extension_, arguments_;
  bool relative_ = false;
  std::vector<std::string> parts_;
};

}  // namespace installer
