// What TavrinMac once asked of the system's shell, done without one: file operations in the Mac root
// and the restart of a system service ("service tftp stop" / "service tftp start") through a handler
// that stands in for the service (the program sets the TFTP server's; none: the command only says so).
#pragma once
#include <functional>
#include <string>

namespace tavrinmac {

inline constexpr const char* kTftpRoot = "/private/tftpboot";

// Copies the file into the TFTP folder under `name`, replacing an older file of that name.
bool CopyIntoTftpRoot(const std::string& source, const std::string& name);
// A copy on the user's desktop (the desktop of the home folder; replaced likewise).
bool CopyToDesktop(const std::string& source);
void SetHomeDirectory(const std::string& macPath);
std::string HomeDirectory();
// Read, write and execute for everyone (what "chmod 777" gave).
bool MakeReadableByAll(const std::string& macPath);

// "service NAME ACTION": the handler's answer, false when no handler stands in for the service.
using ServiceHandler = std::function<bool(const std::string& action)>;
void SetServiceHandler(const std::string& name, ServiceHandler handler);
bool ServiceCommand(const std::string& name, const std::string& action);
// The pause between stopping and starting the TFTP service (1 s; tests shorten it).
void SetServiceRestartPauseMs(int ms);
int ServiceRestartPauseMs();

}  // namespace tavrinmac
