#include "win32/devices/device_nodes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "base/files.h"
#include "inf.h"
#include "win32/devices/kernel_link.h"
#include "win32/sysroot.h"

namespace tavrin::device_nodes {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) out.push_back(part);
  if (!text.empty() && text.back() == separator) out.emplace_back();
  return out;
}

std::vector<Node> Parse(std::istream& in) {
  std::vector<Node> nodes;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto fields = Split(line, '\t');
    if (fields.size() != 5 || fields[0].empty()) continue;
    Node n{fields[0], fields[1], fields[2], {}, fields[4]};
    for (auto& id : Split(fields[3], ';'))
      if (!id.empty()) n.hardwareIds.push_back(id);
    nodes.push_back(std::move(n));
  }
  return nodes;
}

}  // namespace

std::filesystem::path StoreFile() { return sysroot::Root() / "devices" / "nodes"; }

bool StoreExists() { return std::filesystem::exists(StoreFile()); }

std::vector<Node> Load() {
  std::ifstream in(StoreFile());
  if (!in) return {};
  return Parse(in);
}

void UpdateWith(void (*edit)(std::vector<Node>&, void*), void* context) {
  base::files::FileLock lock(StoreFile().string() + ".lock");
  std::vector<Node> nodes = Load();
  edit(nodes, context);
  auto temporary = StoreFile();
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const auto& n : nodes) {
      std::string ids;
      for (const auto& id : n.hardwareIds) ids += (ids.empty() ? "" : ";") + id;
      out << n.instanceId << '\t' << n.classGuid << '\t' << n.className << '\t' << ids << '\t' << n.service << '\n';
    }
  }
  std::filesystem::rename(temporary, StoreFile());
}

std::vector<std::pair<std::string, std::string>> InstalledDriverIds() {
  std::vector<std::pair<std::string, std::string>> ids;
  std::error_code ec;
  const auto folder = sysroot::WindowsDir() / "inf";
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (inf::Upper(entry.path().extension().string()) != ".INF") continue;
    auto file = inf::Read(entry.path().string());
    if (!file) continue;
    for (const auto& d : inf::Drivers(*file))
      if (!d.service.empty()) ids.emplace_back(inf::Upper(d.hardwareId), d.service);
  }
  return ids;
}

int RequestReload() {
  namespace link = tavrin::kernel_link;
  int fd = link::Connect();
  if (fd < 0) return -1;
  int result = -1;
  link::Message type;
  std::vector<uint8_t> payload;
  if (link::Send(fd, link::Message::ReloadNodes, link::Writer()) && link::Receive(fd, &type, &payload) &&
      type == link::Message::Reloaded) {
    link::Reader reader(payload);
    uint32_t answer = reader.U32();
    if (!reader.failed()) result = static_cast<int>(answer);
  }
  close(fd);
  return result;
}

std::vector<LiveNode> QueryLiveNodes() {
  namespace link = tavrin::kernel_link;
  std::vector<LiveNode> nodes;
  int fd = link::Connect();
  if (fd < 0) return nodes;
  link::Message type;
  std::vector<uint8_t> payload;
  if (link::Send(fd, link::Message::ListNodes, link::Writer()) && link::Receive(fd, &type, &payload) &&
      type == link::Message::Nodes) {
    link::Reader reader(payload);
    uint32_t count = reader.U32();
    for (uint32_t i = 0; i < count && !reader.failed(); ++i) {
      LiveNode n;
      n.instanceId = reader.String();
      uint32_t idCount = reader.U32();
      for (uint32_t j = 0; j < idCount && !reader.failed(); ++j) n.hardwareIds.push_back(reader.String());
      n.service = reader.String();
      n.started = reader.U8() != 0;
      if (!reader.failed()) nodes.push_back(std::move(n));
    }
  }
  close(fd);
  return nodes;
}

}  // namespace tavrin::device_nodes
