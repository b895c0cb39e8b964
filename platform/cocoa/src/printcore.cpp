// Printers from files under the Mac root.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cocoa/PrintCore.h"
#include "cocoa/mac_root.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuffix = ".state";

fs::path PrinterDir() {
  fs::path dir = cocoa::MacPath("/private/etc/printers");
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

// Names may hold any character: the file name keeps letters, digits and a few signs, the rest as %XX.
std::string FileNameOf(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == ' ' || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      char escaped[4];
      snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    }
  }
  return out + kSuffix;
}

std::string NameOf(const std::string& fileName) {
  std::string base = fileName.substr(0, fileName.size() - strlen(kSuffix));
  std::string out;
  for (size_t i = 0; i < base.size(); ++i) {
    if (base[i] == '%' && i + 2 < base.size()) {
      out += static_cast<char>(strtol(base.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += base[i];
    }
  }
  return out;
}

std::string ReadSmall(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string text;
  if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (text.size() > 4096) text.resize(4096);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool WriteSmall(const fs::path& file, const std::string& text) {
  fs::path temp = file;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text << '\n';
    if (!out.flush()) return false;
  }
  std::error_code ec;
  fs::rename(temp, file, ec);
  return !ec;
}

class Printer : public NSObject {
 public:
  Printer* initWithName(const std::string& name) {
    name_ = alloc<NSString>()->initWithUTF8String(name.c_str());
    return this;
  }
  NSString* name() const { return name_; }
  const char* className() const override { return "PMPrinter"; }

 protected:
  void dealloc() override {
    if (name_) name_->release();
    NSObject::dealloc();
  }

 private:
  NSString* name_ = nullptr;
};

}  // namespace

OSStatus PMServerCreatePrinterList(PMServer, CFArrayRef* printerList) {
  if (!printerList) return kPMInvalidParameter;
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(PrinterDir(), ec)) {
    std::string file = entry.path().filename().string();
    if (file.size() > strlen(kSuffix) && file.ends_with(kSuffix)) names.push_back(NameOf(file));
  }
  std::sort(names.begin(), names.end());
  NSMutableArray* list = alloc<NSMutableArray>()->init();
  for (const auto& name : names) {
    Printer* p = alloc<Printer>()->initWithName(name);
    list->addObject(p);
    p->release();
  }
  *printerList = list;
  return noErr;
}

CFStringRef PMPrinterGetName(PMPrinter printer) {
  auto* p = dynamic_cast<Printer*>(printer);
  return p ? p->name() : nullptr;
}

Boolean PMPrinterIsDefault(PMPrinter printer) {
  auto* p = dynamic_cast<Printer*>(printer);
  return p && ReadSmall(PrinterDir() / "default") == p->name()->str();
}

OSStatus PMPrinterGetState(PMPrinter printer, PMPrinterState* state) {
  auto* p = dynamic_cast<Printer*>(printer);
  if (!p || !state) return kPMInvalidParameter;
  fs::path file = PrinterDir() / FileNameOf(p->name()->str());
  std::error_code ec;
  if (!fs::exists(file, ec)) return kPMInvalidPrinter;
  *state = static_cast<PMPrinterState>(strtol(ReadSmall(file).c_str(), nullptr, 10));
  return noErr;
}

namespace cocoa::printing {

bool AddPrinter(const std::string& name) {
  if (name.empty()) return false;
  fs::path file = PrinterDir() / FileNameOf(name);
  std::error_code ec;
  return fs::exists(file, ec) || WriteSmall(file, std::to_string(kPMPrinterIdle));
}

bool RemovePrinter(const std::string& name) {
  std::error_code ec;
  return fs::remove(PrinterDir() / FileNameOf(name), ec);
}

bool SetPrinterState(const std::string& name, PMPrinterState state) {
  fs::path file = PrinterDir() / FileNameOf(name);
  std::error_code ec;
  return fs::exists(file, ec) && WriteSmall(file, std::to_string(state));
}

bool SetDefaultPrinter(const std::string& name) { return WriteSmall(PrinterDir() / "default", name); }

}  // namespace cocoa::printing
