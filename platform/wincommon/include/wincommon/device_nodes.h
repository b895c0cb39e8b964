// The machine's persistent device nodes: <sysroot>/devices/nodes, one node a line
// "instance id <TAB> class guid <TAB> class name <TAB> hardware ids (';') <TAB> service". A node without a
// service is a phantom (registered, no driver installed). Setup writes the store; the kernel host creates the
// root devices of the nodes with a service at start and when asked to reload. While the file does not exist
// the machine is the one that came before installation (the kernel host keeps its own defaults).
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::device_nodes {

struct Node {
  std::string instanceId;  // "ROOT\VIZORIDO\0000"
  std::string classGuid;   // "{...}" as the INF writes it
  std::string className;
  std::vector<std::string> hardwareIds;
  std::string service;
};

std::filesystem::path StoreFile();
bool StoreExists();
// Every node; none when there is no store. Lines that do not parse are skipped.
std::vector<Node> Load();
// Changes the store under its lock: the function edits the list, which is then written atomically.
template <class F>
void Update(F&& edit);
void UpdateWith(void (*edit)(std::vector<Node>&, void*), void* context);

// The hardware ids that installed INFs (<Windows>\inf\*.inf) map to a service, upper case.
std::vector<std::pair<std::string, std::string>> InstalledDriverIds();

// Asks the running kernel host to bring its devices in line with the store. 0 done, 1 some removal waits for
// the next start (handles are open), -1 no kernel host.
int RequestReload();

struct LiveNode {
  std::string instanceId;
  std::vector<std::string> hardwareIds;
  std::string service;
  bool started;
};
// The running kernel host's nodes; empty without one.
std::vector<LiveNode> QueryLiveNodes();

template <class F>
void Update(F&& edit) {
  UpdateWith([](std::vector<Node>& nodes, void* context) { (*static_cast<F*>(context))(nodes); }, &edit);
}

}  // namespace tavrin::device_nodes
