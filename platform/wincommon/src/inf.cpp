#include "wincommon/inf.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace tavrin::inf {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string Unquote(std::string s) {
  s = Trim(s);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

std::vector<std::string> SplitValues(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      out.push_back(Unquote(current));
      current.clear();
    } else {
      current += c;
    }
  }
  out.push_back(Unquote(current));
  return out;
}

// A line's comment starts at a ';' outside quotes.
std::string StripComment(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) return line.substr(0, i);
  }
  return line;
}

}  // namespace

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

const std::vector<Line>* File::Section(const std::string& name) const {
  auto it = sections.find(Upper(name));
  return it == sections.end() ? nullptr : &it->second;
}

std::string File::Value(const std::string& section, const std::string& key) const {
  if (const auto* lines = Section(section))
    for (const auto& l : *lines)
      if (Upper(l.key) == Upper(key) && !l.values.empty()) return l.values[0];
  return {};
}

std::optional<File> Read(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream raw;
  raw << in.rdbuf();
  std::string text = raw.str();
  // UTF-16 text of ASCII characters: the NUL bytes go.
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF && static_cast<unsigned char>(text[1]) == 0xFE) {
    std::string narrow;
    for (size_t i = 2; i < text.size(); ++i)
      if (text[i] != '\0') narrow += text[i];
    text = narrow;
  }
  File file;
  std::vector<Line>* current = nullptr;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    line = Trim(StripComment(line));
    if (line.empty()) continue;
    if (line.front() == '[') {
      size_t end = line.find(']');
      current = &file.sections[Upper(Trim(line.substr(1, end == std::string::npos ? std::string::npos : end - 1)))];
      continue;
    }
    if (!current) continue;
    Line entry;
    size_t equals = std::string::npos;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quoted = !quoted;
      if (line[i] == '=' && !quoted) {
        equals = i;
        break;
      }
    }
    if (equals != std::string::npos) {
      entry.key = Unquote(line.substr(0, equals));
      entry.values = SplitValues(line.substr(equals + 1));
    } else {
      entry.values = SplitValues(line);
    }
    current->push_back(std::move(entry));
  }
  return file;
}

std::vector<DriverEntry> Drivers(const File& file) {
  std::vector<DriverEntry> out;
  const auto* manufacturers = file.Section("Manufacturer");
  if (!manufacturers) return out;
  for (const auto& maker : *manufacturers) {
    if (maker.values.empty()) continue;
    // "%Mfg% = Models, NTx86" names the sections Models and Models.NTx86.
    std::vector<std::string> modelSections{maker.values[0]};
    for (size_t i = 1; i < maker.values.size(); ++i) modelSections.push_back(maker.values[0] + "." + maker.values[i]);
    for (const auto& name : modelSections) {
      const auto* models = file.Section(name);
      if (!models) continue;
      for (const auto& model : *models) {
        if (model.values.size() < 2) continue;
        DriverEntry base;
        base.installSection = model.values[0];
        for (const std::string& suffix : {std::string(".Services"), std::string(".NT.Services")})
          if (const auto* services = file.Section(base.installSection + suffix))
            for (const auto& l : *services)
              if (Upper(l.key) == "ADDSERVICE" && !l.values.empty() && base.service.empty()) base.service = l.values[0];
        for (const std::string& section : {base.installSection, base.installSection + ".NT"})
          if (const auto* install = file.Section(section))
            for (const auto& l : *install)
              if (Upper(l.key) == "COPYFILES")
                for (const auto& list : l.values) {
                  if (list.empty()) continue;
                  if (list[0] == '@') {
                    base.files.push_back(list.substr(1));
                  } else if (const auto* files = file.Section(list)) {
                    for (const auto& f : *files)
                      if (!f.values.empty() && !f.values[0].empty()) base.files.push_back(f.values[0]);
                  }
                }
        for (size_t i = 1; i < model.values.size(); ++i) {
          if (model.values[i].empty()) continue;
          DriverEntry entry = base;
          entry.hardwareId = model.values[i];
          out.push_back(entry);
        }
      }
    }
  }
  return out;
}

}  // namespace tavrin::inf
