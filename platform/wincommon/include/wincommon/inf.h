// A small reader of INF files: sections of "key = value, value" lines; ANSI or UTF-16 text.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::inf {

struct Line {
  std::string key;                  // empty for a line without "="
  std::vector<std::string> values;  // unquoted, trimmed
};

struct File {
  std::map<std::string, std::vector<Line>> sections;  // names upper case
  const std::vector<Line>* Section(const std::string& name) const;
  std::string Value(const std::string& section, const std::string& key) const;  // first value, "" when none
};

// Nullopt when the file cannot be read.
std::optional<File> Read(const std::string& hostPath);

struct DriverEntry {
  std::string hardwareId;      // as written
  std::string installSection;
  std::string service;         // of [<install>.Services] AddService
  std::vector<std::string> files;  // of the install section's CopyFiles lists
};
// The devices the INF installs, from [Manufacturer] and its models sections.
std::vector<DriverEntry> Drivers(const File& file);

std::string Upper(std::string text);

}  // namespace tavrin::inf
