// What the outline benchmark's two sides share (each toolkit's scene in a file of its own: their headers
// do not meet).
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace outline_bench {

// What both trees show: the servers' addresses, their devices' names and cells.
struct Model {
  struct Device {
    std::string name, port, cls, state;
  };
  std::vector<std::string> servers;
  std::vector<std::vector<Device>> devices;

  Model(int serverCount, int deviceCount) {
    const char* classes[] = {"Printer", "Mass storage", "Hub", "Video"};
    for (int s = 0; s < serverCount; ++s) {
      servers.push_back("192.168." + std::to_string(s / 250) + "." + std::to_string(2 + s % 250));
      devices.emplace_back();
      for (int d = 0; d < deviceCount; ++d)
        devices.back().push_back({"Office LaserPrinter " + std::to_string(1000 + d), std::to_string(d + 1),
                                  classes[d % 4], d % 3 ? "Free" : "Connected"});
    }
  }
};

// A 1024 x 768 window on the desktop whose tree shows the model: Reload loads it anew, expands every
// server and paints the whole window.
class Scene {
 public:
  virtual ~Scene() = default;
  virtual void Reload() = 0;
  virtual long Rows() const = 0;
};

// The main thread's application and its pool: started before the first scene, ended after the last.
void StartMacSide();
void EndMacSide();
std::unique_ptr<Scene> MakeMacScene(const Model& model);
std::unique_ptr<Scene> MakeWin32Scene(const Model& model);

}  // namespace outline_bench
