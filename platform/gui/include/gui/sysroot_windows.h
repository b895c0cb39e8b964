// The top-level windows of all the processes of one sysroot, whatever their toolkit, and what outside
// tools (tavrin-ctl) do to them over the automation protocol (gui/automation.h).
//
// Each top-level window has a small record in <run>/windows, named by its process and its toolkit's
// handle ("PPPPPPPP-HHHHHHHHHHHHHHHH", both in hex): the process, its start time (so that a reused process
// id is not taken for the window's), the toolkit's class of the window and its title. A toolkit publishes
// a record when it creates a top-level window, again when the title changes, and removes it when the
// window goes; records of processes that are gone are removed by whoever reads them. A process with
// records serves the automation socket (the toolkit holds its Service meanwhile), where `window` in a
// request is the record's handle.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::gui::automation {

struct PublishedWindow {
  uint32_t pid = 0;
  uint64_t handle = 0;    // the toolkit's handle of the window in its process
  std::string className;  // the toolkit's class of the window
  std::string title;
};

// Writes the record of a top-level window of this process (whole, renamed into place: a reader never sees
// half of one); with `existing`, rewrites that record (a new title). The record's path, `existing` when it
// could not be written.
std::filesystem::path Publish(uint64_t handle, const std::string& className, const std::string& title,
                              const std::filesystem::path& existing = {});
void Unpublish(const std::filesystem::path& record);

// The windows of the other live processes, by process id, each process's by handle.
std::vector<PublishedWindow> OtherProcessesWindows();
// The record of a window of a live process (any process, this one too).
std::optional<PublishedWindow> FindPublished(uint32_t pid, uint64_t handle);
// The first of the other processes' windows with this title (letter case aside).
std::optional<PublishedWindow> FindByTitle(const std::string& title);

// What the tools do:
// Each other process's window list (the lines of its toolkit's listing, see ListLine) after a line
// "process PID".
std::vector<std::string> ListAllWindows();
// A PNG of a window, or (null) of the screen of the first other process that has windows.
bool Screenshot(const PublishedWindow* window, std::vector<uint8_t>& png);
// An input command (see InputCommand) for the window's process, coordinates from the window's top-left.
bool Input(const PublishedWindow& window, const std::string& command);

}  // namespace tavrin::gui::automation
